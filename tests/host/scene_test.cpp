#include "host/scene.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/messages.h"
#include "tests/host/recording_window.h"

namespace {

Matrix3 Filled(float base) {
  Matrix3 m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) m.m[i][j] = base + 3.0f * i + j;
  return m;
}

TEST(SceneNodeTransform, IdentityWithoutKeysLinearPerElementHeldOutside) {
  SceneNode node("Box01");
  EXPECT_EQ(node.GetWorldTransform(500), Matrix3::Identity());

  node.SetWorldTransform(100, Filled(0.0f));
  node.SetWorldTransform(300, Filled(20.0f));
  node.SetWorldTransform(200, Matrix3::Translation({1.0f, -2.0f, 3.0f}));
  Interval valid;
  EXPECT_EQ(node.GetWorldTransform(-10, &valid), Filled(0.0f));
  EXPECT_EQ(valid, Interval(TIME_NEG_INFINITY, 100));
  EXPECT_EQ(node.GetWorldTransform(9999), Filled(20.0f));

  const Matrix3 mid = node.GetWorldTransform(250);
  const Matrix3 t = Matrix3::Translation({1.0f, -2.0f, 3.0f});
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_FLOAT_EQ(mid.m[i][j], (t.m[i][j] + Filled(20.0f).m[i][j]) / 2) << i << "," << j;
    }
  }
  EXPECT_EQ(node.GetWorldTransform(200).GetTrans(), (Point3{1.0f, -2.0f, 3.0f}));
}

class SceneInterface : public ::testing::Test {
 protected:
  void SetUp() override { ip.Reset(); }
  void TearDown() override {
    ip.SetPickDialogUser({});
    ip.Reset();
  }
  Interface& ip = HostInterface();
};

TEST_F(SceneInterface, NodeByNameIsExactAndFirstWins) {
  SceneNode& first = ip.AddNode("Camera");
  ip.AddNode("Camera");
  ip.AddNode("Cam");
  EXPECT_EQ(ip.GetNodeByName("Camera"), &first);
  EXPECT_EQ(ip.GetNodeByName("camera"), nullptr);
  EXPECT_EQ(ip.GetNodeByName("Camera "), nullptr);
  EXPECT_EQ(ip.GetNodeByName(nullptr), nullptr);
  EXPECT_EQ(std::string(ip.GetNodeByName("Cam")->GetName()), "Cam");
}

TEST_F(SceneInterface, SetTimeReachesLiveInteractiveDialogsOnly) {
  kestrion_test::RecordingWindow live;
  kestrion_test::RecordingWindow destroyed;
  kestrion_test::RecordingWindow unregistered;
  ip.RegisterInteractiveDialog(live.hwnd);
  ip.RegisterInteractiveDialog(destroyed.hwnd);
  ip.RegisterInteractiveDialog(unregistered.hwnd);
  ip.UnregisterInteractiveDialog(unregistered.hwnd);
  destroyed.Destroy();

  ip.SetTime(-480);
  EXPECT_EQ(ip.GetTime(), -480);
  ASSERT_EQ(live.Received(HOST_TIME_CHANGE).size(), 1u);
  EXPECT_EQ(live.Received(HOST_TIME_CHANGE)[0].lParam, -480);
  EXPECT_TRUE(unregistered.Received(HOST_TIME_CHANGE).empty());
}

// A pick callback that offers only names starting with 'B' and records picks.
class RecordingPicker : public PickCallback {
 public:
  const char* DialogTitle() override { return "Select Object"; }
  const char* ButtonText() override { return "Ok"; }
  int SinglePick() override { return 1; }
  int ListHidden() override { return 0; }
  int Listed(SceneNode* node) override { return node->GetName()[0] == 'B'; }
  int UseListedFilter() override { return useFilter; }
  void Picked(const PickList& list) override {
    ++pickedCalls;
    names.clear();
    for (int i = 0; i < list.count; ++i) names.push_back(list.nodes[i]->GetName());
    hadStorage = list.nodes != nullptr;
  }
  int ShowHierarchy() override { return 0; }
  int Highlighted(SceneNode*) override { return 0; }
  int AllowEmptyPick() override { return 0; }

  int useFilter = 1;
  int pickedCalls = 0;
  bool hadStorage = false;
  std::vector<std::string> names;
};

TEST_F(SceneInterface, PickByNameOffersListedNodesAndDeliversQueuedAnswers) {
  ip.AddNode("Ball");
  ip.AddNode("Apple");
  ip.AddNode("Box");
  RecordingPicker picker;

  ip.QueuePick({"Box", "Apple", "Nowhere", "Ball"});
  EXPECT_EQ(ip.PickByName(picker), 1);
  EXPECT_EQ(picker.names, (std::vector<std::string>{"Box", "Ball"}));

  ip.QueuePickCancel();
  EXPECT_EQ(ip.PickByName(picker), 0);
  EXPECT_EQ(ip.PickByName(picker), 0) << "no answer queued: the user cancels";
  EXPECT_EQ(picker.pickedCalls, 1);

  picker.useFilter = 0;
  ip.QueuePick({"Nowhere"});
  EXPECT_EQ(ip.PickByName(picker), 1);
  EXPECT_TRUE(picker.names.empty());
  EXPECT_FALSE(picker.hadStorage);

  const auto& runs = ip.PickRuns();
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].title, "Select Object");
  EXPECT_EQ(runs[0].buttonText, "Ok");
  EXPECT_EQ(runs[0].offered, (std::vector<std::string>{"Ball", "Box"}));
  EXPECT_EQ(runs[3].offered, (std::vector<std::string>{"Ball", "Apple", "Box"}));
}

TEST_F(SceneInterface, PickDialogUserAnswersWhenNothingIsQueued) {
  ip.AddNode("Ball");
  ip.AddNode("Box");
  RecordingPicker picker;
  std::vector<PickDialogRun> shown;
  std::optional<std::vector<std::string>> answer = std::vector<std::string>{"Box", "Apple"};
  ip.SetPickDialogUser([&](const PickDialogRun& run) {
    shown.push_back(run);
    return answer;
  });

  ip.QueuePickCancel();
  EXPECT_EQ(ip.PickByName(picker), 0) << "a queued answer comes first";
  EXPECT_TRUE(shown.empty());

  EXPECT_EQ(ip.PickByName(picker), 1);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].offered, (std::vector<std::string>{"Ball", "Box"}));
  EXPECT_TRUE(shown[0].singlePick);
  EXPECT_FALSE(shown[0].allowEmptyPick);
  EXPECT_EQ(picker.names, (std::vector<std::string>{"Box"})) << "only offered nodes are picked";

  answer.reset();
  EXPECT_EQ(ip.PickByName(picker), 0);
  EXPECT_EQ(picker.pickedCalls, 1);
}

}  // namespace
