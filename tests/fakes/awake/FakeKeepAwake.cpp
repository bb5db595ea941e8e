// Records guards instead of asking the system: tests see when the computer would be kept awake.

#include "FakeKeepAwake.h"

#include "KeepAwake.h"

namespace {

class RecordedGuard : public AwakeGuard {
public:
    ~RecordedGuard() override {
        --FakeAwake().held;
        FakeAwake().events.push_back("release");
    }
};

}  // namespace

AwakeRecord& FakeAwake() {
    static AwakeRecord record;
    return record;
}

std::unique_ptr<AwakeGuard> KeepAwake(const std::string& reason) {
    FakeAwake().events.push_back("take: " + reason);
    ++FakeAwake().held;
    return std::make_unique<RecordedGuard>();
}
