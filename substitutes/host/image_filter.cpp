#include "host/image_filter.h"

#include <climits>
#include <cmath>
#include <map>
#include <mutex>
#include <new>

namespace {

// The scenes bound to filters, by filter.
struct Bindings {
  std::mutex guard;
  std::map<const ImageFilter*, Interface*> scenes;
};

Bindings& SceneBindings() {
  static Bindings bindings;
  return bindings;
}

}  // namespace

ImageFilter::ImageFilter() = default;

ImageFilter::~ImageFilter() {
  if (interactiveDialog) HostInterface().UnregisterInteractiveDialog(interactiveDialog);
}

int32_t ImageFilter::ShowControl(HWND) { return 0; }

void ImageFilter::SetSource(Bitmap* map) { sourceBitmap = map; }

void ImageFilter::SetForeground(Bitmap* map) { foregroundBitmap = map; }

void ImageFilter::SetMask(Bitmap* map) { maskBitmap = map; }

void ImageFilter::SetFilterInfo(ImageFilterInfo* info) { filterInfo = info; }

// The host's one interface, or the scene bound to the filter.
Interface* ImageFilter::MainInterface() {
  Bindings& bindings = SceneBindings();
  const std::lock_guard<std::mutex> hold(bindings.guard);
  const auto found = bindings.scenes.find(this);
  return found != bindings.scenes.end() ? found->second : &HostInterface();
}

SceneBinding::SceneBinding(const ImageFilter& filter, Interface& scene) : filter(&filter) {
  Bindings& bindings = SceneBindings();
  const std::lock_guard<std::mutex> hold(bindings.guard);
  bindings.scenes[&filter] = &scene;
}

SceneBinding::~SceneBinding() {
  Bindings& bindings = SceneBindings();
  const std::lock_guard<std::mutex> hold(bindings.guard);
  bindings.scenes.erase(filter);
}

int ImageFilter::Lerp(int a, int b, float t) {
  // The product is a float product, as the formula reads; only its range is
  // widened so that extreme arguments cannot overflow.
  const float product = static_cast<float>(static_cast<int64_t>(b) - a) * t;
  const double value = a + (std::isnan(product) ? 0.0 : std::trunc(static_cast<double>(product)));
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(value);
}

int ImageFilter::Lerp(int a, int b, int t) {
  const int64_t step = (static_cast<int64_t>(b) - a) * t / 255;
  return static_cast<int>(a + step);
}

uint32_t ImageFilter::EvaluateConfigure() { return 0; }

int32_t ImageFilter::LoadConfigure(void*) { return 0; }

int32_t ImageFilter::SaveConfigure(void*) { return 0; }

int ImageFilter::CreatePreview(HWND, Bitmap**, int, int, int, float, Bitmap**, uint32_t) {
  return 0;
}

uint32_t ImageFilter::ChannelsRequired() { return 0; }

HWND ImageFilter::DlgHandle() { return interactiveDialog; }

void ImageFilter::MakeDlgInteractive(HWND dialog) {
  if (interactiveDialog && interactiveDialog != dialog) {
    HostInterface().UnregisterInteractiveDialog(interactiveDialog);
  }
  interactiveDialog = dialog;
  if (dialog) HostInterface().RegisterInteractiveDialog(dialog);
}

int ImageFilter::IsInteractive() {
  return interactiveDialog && IsWindow(interactiveDialog) ? 1 : 0;
}

ITrackViewNode* ImageFilter::CreateNode() {
  if (!node) node.reset(new (std::nothrow) ITrackViewNode);
  return node.get();
}

ITrackViewNode* ImageFilter::Node() { return node.get(); }

void ImageFilter::FilterUpdate() {}

void ImageFilter::DeleteNode() { node.reset(); }
