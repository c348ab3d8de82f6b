// What the host test module records, read by the tests through its extra export testModuleLog.
#pragma once

#include <cstdint>
#include <vector>

struct TestEvent {
    int32_t pin;
    int32_t status;
    int32_t time_stamp;
    float level; // the variables as the audio side saw them at the event
    int16_t shape;
    uint8_t flag;
};

struct TestLog {
    // Audio side
    float sample_rate_seen = 0;
    int32_t block_size_seen = 0;
    bool opened = false;
    int32_t pin_count = 0;
    std::vector<int32_t> buffer_requests; // pin indices asked with the buffer request
    float* out_buffer = nullptr;
    float* in_seen = nullptr; // the address in the input variable at open
    std::vector<TestEvent> events;
    int32_t clock_mismatches = 0;
    int64_t samples = 0;
    double input_sum = 0;
    std::vector<int32_t> block_sizes;
    std::vector<std::pair<int32_t, int32_t>> notifies; // (value, index)
    bool audio_closed = false;
    // View side
    std::vector<std::vector<uint8_t>> received;
    std::vector<std::pair<int32_t, int32_t>> pin_changes; // (index, value read back)
    int32_t reentered = 0; // a call arrived while the view was inside another call
    std::vector<int32_t> paint_handles;
    int32_t paint_width = 0;
    int32_t paint_height = 0;
    bool view_closed = false;
};

extern "C" TestLog* testModuleLog();
