#pragma once
// The tests' KeepAwake: linked in place of the platform's, it records each guard taken and let go.

#include <string>
#include <vector>

struct AwakeRecord {
    std::vector<std::string> events;  // "take: <reason>" and "release", in order
    int held = 0;                     // guards alive now
};

// The record of every guard since the last Clear.
AwakeRecord& FakeAwake();
