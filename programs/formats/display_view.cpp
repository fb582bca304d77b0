// display_view.cpp: display and view processors from a colour
// configuration file, through OpenColorIO's CPU processor.
#include "formats/display_view.h"

#include <OpenColorIO/OpenColorIO.h>

#include <algorithm>
#include <filesystem>
#include <new>
#include <system_error>

#include "base/errors.h"
#include "base/numbers.h"

namespace kestrion {

namespace OCIO = OCIO_NAMESPACE;

namespace {

std::string Listed(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The configuration library's message with the file's name before it,
// once (its own messages often name the file already).
Error ConfigError(const std::string& path, const std::string& reason) {
  return UsageError(ShownName(path) + ": not a usable colour configuration: " + reason);
}

OCIO::ConstConfigRcPtr ReadConfig(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw ConfigError(path,
                      std::filesystem::exists(path, error) ? "not a regular file" : "no such file");
  }
  try {
    OCIO::ConstConfigRcPtr config = OCIO::Config::CreateFromFile(path.c_str());
    config->validate();
    return config;
  } catch (const OCIO::Exception& e) {
    throw ConfigError(path, e.what());
  }
}

ViewNames NamesOf(const OCIO::ConstConfigRcPtr& config) {
  ViewNames names;
  names.defaultDisplay = config->getDefaultDisplay();
  for (int d = 0; d < config->getNumDisplays(); ++d) {
    const char* display = config->getDisplay(d);
    names.displays.emplace_back(display);
    std::vector<std::string> views;
    for (int v = 0; v < config->getNumViews(display); ++v)
      views.emplace_back(config->getView(display, v));
    names.views.push_back(std::move(views));
  }
  for (int l = 0; l < config->getNumLooks(); ++l)
    names.looks.emplace_back(config->getLookNameByIndex(l));
  return names;
}

class ConfigDisplayView final : public DisplayView {
 public:
  ConfigDisplayView(OCIO::ConstCPUProcessorRcPtr processor, ViewChoice choice)
      : processor(std::move(processor)), choice(std::move(choice)) {}

  void Apply(float* rgba, size_t count) const override {
    // PackedImageDesc counts in long; long is 32 bits on 32-bit Windows, so
    // pixels go in pieces that fit.
    constexpr size_t PIECE = size_t{1} << 20;
    for (size_t begin = 0; begin < count; begin += PIECE) {
      const size_t n = std::min(PIECE, count - begin);
      OCIO::PackedImageDesc image(rgba + 4 * begin, static_cast<long>(n), 1, 4);
      processor->apply(image);
    }
  }

  const ViewChoice& Choice() const override { return choice; }

 private:
  OCIO::ConstCPUProcessorRcPtr processor;
  ViewChoice choice;
};

}  // namespace

ViewNames ReadViewNames(const std::string& path) { return NamesOf(ReadConfig(path)); }

std::shared_ptr<const DisplayView> OpenDisplayView(const ViewChoice& given) {
  const OCIO::ConstConfigRcPtr config = ReadConfig(given.config);
  const ViewNames names = NamesOf(config);
  ViewChoice choice = given;
  const std::string file = ShownName(given.config);
  if (choice.display.empty()) choice.display = names.defaultDisplay;
  const auto display = std::find(names.displays.begin(), names.displays.end(), choice.display);
  if (display == names.displays.end()) {
    throw UsageError(file + " has no display " + QuotedValue(choice.display) +
                     " (it has: " + Listed(names.displays) + ")");
  }
  const std::vector<std::string>& views = names.views[display - names.displays.begin()];
  if (choice.view.empty()) choice.view = config->getDefaultView(choice.display.c_str());
  if (std::find(views.begin(), views.end(), choice.view) == views.end()) {
    throw UsageError(file + ": display " + QuotedValue(choice.display) + " has no view " +
                     QuotedValue(choice.view) + " (it has: " + Listed(views) + ")");
  }
  if (!choice.look.empty() &&
      std::find(names.looks.begin(), names.looks.end(), choice.look) == names.looks.end()) {
    throw UsageError(file + " has no look " + QuotedValue(choice.look) +
                     " (it has: " + Listed(names.looks) + ")");
  }
  try {
    const OCIO::DisplayViewTransformRcPtr transform = OCIO::DisplayViewTransform::Create();
    transform->setSrc(OCIO::ROLE_SCENE_LINEAR);
    transform->setDisplay(choice.display.c_str());
    transform->setView(choice.view.c_str());
    OCIO::ConstProcessorRcPtr processor;
    if (choice.look.empty()) {
      processor = config->getProcessor(transform);
    } else {
      // The look in place of the view's own, as viewers apply one.
      const OCIO::LegacyViewingPipelineRcPtr pipeline = OCIO::LegacyViewingPipeline::Create();
      pipeline->setDisplayViewTransform(transform);
      pipeline->setLooksOverrideEnabled(true);
      pipeline->setLooksOverride(choice.look.c_str());
      processor = pipeline->getProcessor(config, config->getCurrentContext());
    }
    return std::make_shared<ConfigDisplayView>(
        processor->getOptimizedCPUProcessor(OCIO::BIT_DEPTH_F32, OCIO::BIT_DEPTH_F32,
                                            OCIO::OPTIMIZATION_DEFAULT),
        std::move(choice));
  } catch (const OCIO::Exception& e) {
    throw ConfigError(given.config, e.what());
  }
}

std::optional<std::string> ChooseViewConfig(const std::optional<std::string>& given,
                                            const char* environment,
                                            const std::vector<std::string>& installed) {
  if (given) {
    if (*given == "none") return std::nullopt;
    return given;
  }
  if (environment && *environment) return std::string(environment);
  for (const std::string& path : installed) {
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) return path;
  }
  return std::nullopt;
}

std::vector<std::string> InstalledBlenderConfigs(const std::string& root) {
  const auto configOf = [](const std::filesystem::path& folder) {
    return folder / "datafiles" / "colormanagement" / "config.ocio";
  };
  std::vector<std::string> versioned;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    std::error_code ignored;
    if (std::filesystem::is_regular_file(configOf(entry.path()), ignored)) {
      versioned.push_back(configOf(entry.path()).string());
    }
  }
  // Version folders ("3.3", "3.4") sort as text well enough within a major
  // version; the newest first.
  std::sort(versioned.rbegin(), versioned.rend());
  std::vector<std::string> found;
  std::error_code ignored;
  if (std::filesystem::is_regular_file(configOf(root), ignored)) found.push_back(configOf(root));
  found.insert(found.end(), versioned.begin(), versioned.end());
  return found;
}

}  // namespace kestrion
