// Reading the page's messages, and the inbox between the threads.
#include "studio/requests.h"

#include <gtest/gtest.h>

#include <string>

#include "studio/inbox.h"

namespace {

using studio::ReadRequest;
using studio::RequestError;
using studio::RequestKind;
using studio::UserInput;

TEST(StudioRequests, ReadsEachKindWithItsFields) {
  const auto drag = ReadRequest(
      R"({"type":"action","seq":9,"dialog":3,"action":"drag","id":1006,"pixels":-40})", 2);
  EXPECT_EQ(drag.kind, RequestKind::Action);
  EXPECT_EQ(drag.client, 2u);
  EXPECT_EQ(drag.seq, 9);
  EXPECT_EQ(drag.dialog, 3);
  EXPECT_EQ(drag.input, UserInput::Drag);
  EXPECT_EQ(drag.control, 1006);
  EXPECT_EQ(drag.pixels, -40);
  EXPECT_FALSE(
      ReadRequest(R"({"type":"action","dialog":1,"action":"release","id":4,"accept":false})", 1)
          .accept);
  EXPECT_EQ(
      ReadRequest(R"({"type":"action","dialog":1,"action":"type","id":5,"text":"7.5"})", 1).text,
      "7.5");
  EXPECT_EQ(ReadRequest(R"({"type":"action","dialog":1,"action":"escape"})", 1).input,
            UserInput::Escape);
  const auto pick = ReadRequest(R"({"type":"pick","run":2,"names":["Box01","Sphere02"]})", 1);
  EXPECT_EQ(pick.names, (std::vector<std::string>{"Box01", "Sphere02"}));
  EXPECT_TRUE(ReadRequest(R"({"type":"pick","run":2,"cancel":true})", 1).cancel);
  const auto host = ReadRequest(R"({"type":"host","command":"setTime","time":1600})", 1);
  EXPECT_EQ(host.command, "setTime");
  EXPECT_EQ(host.arguments["time"], 1600) << "a command's other members are its arguments";
}

TEST(StudioRequests, RefusesWhatIsMalformedOrOutOfBounds) {
  const std::string longText(studio::TYPED_TEXT_MAX + 1, '1');
  const struct {
    std::string message;
    const char* complaint;
  } cases[] = {
      {"", "not JSON"},
      {"[1,2]", "not a JSON object"},
      {R"({"seq":1})", "\"type\" is missing"},
      {R"({"type":"launch"})", "no such message type"},
      {R"({"type":"action","dialog":1,"action":"wiggle","id":1})", "no such action"},
      {R"({"type":"action","dialog":"1","action":"click","id":1})", "whole number"},
      {R"({"type":"action","dialog":1,"action":"click","id":70000})", "within 0 to 65535"},
      {R"({"type":"action","dialog":1,"action":"click","id":1.5})", "whole number"},
      {R"({"type":"action","dialog":1,"action":"drag","id":1,"pixels":32768})", "pixels"},
      {R"({"type":"action","dialog":1,"action":"type","id":1,"text":")" + longText + "\"}",
       "longer than"},
      {R"({"type":"action","dialog":1,"action":"type","id":1,"text":"a\u0000b"})", "zero byte"},
      {R"({"type":"action","dialog":1,"action":"release","id":1,"accept":1})", "true or false"},
      {R"({"type":"pick","run":1,"names":"Box01"})", "must be a list"},
      {R"({"type":"pick","run":1,"names":[7]})", "must be text"},
      {R"({"type":"action","seq":-1,"dialog":1,"action":"escape"})", "seq"},
  };
  for (const auto& c : cases) {
    try {
      ReadRequest(c.message, 1);
      ADD_FAILURE() << "read: " << c.message;
    } catch (const RequestError& error) {
      EXPECT_NE(std::string(error.what()).find(c.complaint), std::string::npos)
          << c.message << " -> " << error.what();
    }
  }
  try {
    ReadRequest(R"({"type":"action","seq":12,"dialog":1})", 1);
  } catch (const RequestError& error) {
    EXPECT_EQ(error.seq, 12) << "the answer can name the message";
  }
}

TEST(StudioInbox, TakesARunOfDragsAsItsLastAndQuitsOnceClosed) {
  studio::Inbox inbox(4);
  EXPECT_FALSE(inbox.Waiting());
  const auto drag = [](int id, int pixels, int seq) {
    return ReadRequest(R"({"type":"action","dialog":1,"action":"drag","id":)" + std::to_string(id) +
                           R"(,"pixels":)" + std::to_string(pixels) + R"(,"seq":)" +
                           std::to_string(seq) + "}",
                       1);
  };
  EXPECT_TRUE(inbox.Push(drag(1006, 1, 1)));
  EXPECT_TRUE(inbox.Push(drag(1006, 2, 2)));
  EXPECT_TRUE(inbox.Push(drag(1004, 3, 3)));
  EXPECT_TRUE(inbox.Push(drag(1004, 4, 4)));
  EXPECT_FALSE(inbox.Push(drag(1004, 5, 5))) << "full";
  EXPECT_TRUE(inbox.Waiting());
  EXPECT_EQ(inbox.Take().seq, 2);
  EXPECT_EQ(inbox.TryTake()->seq, 4);
  EXPECT_FALSE(inbox.TryTake());
  EXPECT_FALSE(inbox.Waiting());

  inbox.Push(drag(1006, 1, 6));
  inbox.Close();
  EXPECT_TRUE(inbox.Waiting());
  EXPECT_EQ(inbox.Take().kind, RequestKind::Quit) << "what was queued is dropped";
  EXPECT_EQ(inbox.TryTake()->kind, RequestKind::Quit);
  EXPECT_FALSE(inbox.Push(drag(1006, 1, 7)));
}

}  // namespace
