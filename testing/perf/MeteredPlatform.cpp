#include "MeteredPlatform.h"

#include "AllocationMeter.h"

namespace wf::perf {

uint64_t MeteredPlatform::TotalCalls() const {
  uint64_t total = 0;
  for (const uint64_t count : counts_) total += count;
  return total;
}

void MeteredPlatform::Enter() {
  SetInsidePlatform(true);
  enteredAt_ = MeterTicks();
}

void MeteredPlatform::Evict() {
  constexpr size_t kCacheLine = 64;
  for (size_t at = 0; at < eviction_.size(); at += kCacheLine) evictionSum_ += eviction_[at];
}

void MeteredPlatform::Leave() {
  Evict();
  platformTicks_ += MeterTicks() - enteredAt_;
  SetInsidePlatform(false);
}

// The command's own code run from inside a guard call: the reverse.
class MeteredPlatform::InCommand {
 public:
  explicit InCommand(MeteredPlatform& meter) : meter_(meter) { meter.Leave(); }
  ~InCommand() { meter_.Enter(); }
  InCommand(const InCommand&) = delete;
  InCommand& operator=(const InCommand&) = delete;

 private:
  MeteredPlatform& meter_;
};

struct MeteredPlatform::GuardedBody {
  MeteredPlatform* meter;
  GuardBody body;
  void* context;

  static void Run(void* self) {
    auto* guarded = static_cast<GuardedBody*>(self);
    InCommand command(*guarded->meter);
    guarded->body(guarded->context);
  }
};

struct MeteredPlatform::GuardedFilter {
  MeteredPlatform* meter;
  GuardFilter filter;
  void* context;

  static int32_t Run(const FaultInfo& fault, void* self) {
    auto* guarded = static_cast<GuardedFilter*>(self);
    InCommand command(*guarded->meter);
    return guarded->filter(fault, guarded->context);
  }
};

bool MeteredPlatform::RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                                 void* filterContext) {
  GuardedBody guardedBody{this, body, bodyContext};
  GuardedFilter guardedFilter{this, filter, filterContext};
  InPlatform call(*this, PlatformCall::RunGuarded);
  return Inner().RunGuarded(&GuardedBody::Run, &guardedBody, &GuardedFilter::Run, &guardedFilter);
}

void MeteredPlatform::RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                                     void* closingContext) {
  GuardedBody guardedBody{this, body, bodyContext};
  GuardedBody guardedClosing{this, closing, closingContext};
  InPlatform call(*this, PlatformCall::RunWithClosing);
  Inner().RunWithClosing(&GuardedBody::Run, &guardedBody, &GuardedBody::Run, &guardedClosing);
}

}  // namespace wf::perf
