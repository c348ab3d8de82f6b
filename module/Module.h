// The audio side of the module: the capture engine that turns "Audio_In" into frame messages
// (sample modes) or peak messages (peak modes).
#pragma once

#include "DisplayMessage.h"
#include "SEModule_base.h"
#include "plug_table.h"
#include "se_types.h"

#include <cstdint>

class Module : public SEModule_base {
public:
    Module(HostCallback callback, intptr_t host_argument);
    ~Module() override;

    void OnPlugStateChange(SEPin* pin) override;
    void Open() override;
    void Close() override;
    bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
        return DescribePlug(index, m_plugs, *properties);
    }
    void OnGuiNotify(int32_t value, int32_t index, void* ptr) override;

    // The capture routine: installed as the process routine by Open, called once per block with
    // the offset of the block's first sample and the number of samples.
    void Capture(int32_t offset, int32_t count);

private:
    // Where the capture of a frame stands (sample modes; the peak modes capture in any state).
    enum class CaptureState {
        kReady,         // a frame may begin: plain Sample captures straight away, in this state
                        // throughout; Sample Sync starts its search for a trigger
        kSearching,     // Sample Sync: looking for a rising zero crossing
        kCapturing,     // Sample Sync: the crossing found, filling the frame
        kAwaitingReply, // the frame is with the GUI side; nothing is captured until its reply
    };

    // Everything of the capture afresh: no period, no frame, nothing sent.
    void ResetCapture();
    // Any positive "Display Type" captures peaks; the others capture frames, and the negative
    // ones wait for a trigger first.
    bool IsPeakMode() const { return m_plugs.display_type > 0; }
    bool IsSynced() const { return m_plugs.display_type < 0; }
    void CapturePeaks(const float* input, int32_t count);
    void CaptureFrame(const float* input, int32_t count);

    AudioPlugVariables m_plugs; // "Audio_In", "Display Type" and "Active", as the host writes them
    float m_period_min;         // smallest sample of the running period (peak modes)
    float m_period_max;         // largest sample of the running period (peak modes)
    CaptureState m_capture_state;
    int32_t m_write_index;     // next frame byte; always 0 to 799
    int32_t m_countdown;       // samples left in the frame or period; always at least 1
    int32_t m_frame_length;    // samples per frame or period; always at least 1
    int32_t m_previous_sample; // raw bits of the last sample the trigger search looked at
    uint8_t m_frame[display_message::kFrameBytes];
};
