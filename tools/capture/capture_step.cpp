// One frame of an offline capture (see capture_step.h). Main thread only.
#include "tools/capture/capture_step.h"

#include "app/counter_virtual.h"
#include "app/shell.h"
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "tools/capture/capture_options.h"

void startCaptureClock(int32_t fps) {
    setMixingThreadEnabled(false);
    setVirtualFrequency(captureCounterFrequency(fps));
    setVirtualCounter(captureCounterStart);
}

int64_t composeCaptureFrame(int64_t frame, int32_t fps) {
    if (frame > 0) advanceVirtualCounter(counterTicksPerFrame);
    const int64_t position = soundPosition(frame, fps);
    setVirtualPosition(static_cast<uint64_t>(position) * 4);
    pollOutputOnce();
    composeFrame();
    return position;
}
