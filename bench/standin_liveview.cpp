// Figures for the stand-in SDK's live-view round trip (info + image calls)
// against a kamora-vcam process on 127.0.16.1, and for a property read.
#include <cstdio>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "tests/support/SdkRecorder.h"
#include "tests/support/Vcam.h"

namespace {

using perf::Clock;
using perf::msSince;

const int kColumn = 46;  // width of the table's first column

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::atoi(argv[1]) : 200;
  VcamOptions o;
  o.ip = "127.0.16.1";
  auto cam = VirtualCamera::start(o);
  if (!cam) {
    std::printf("vcam did not start: %s\n", VirtualCamera::lastError().c_str());
    return 1;
  }
  VCSDK::Init(0);
  int rc = 0;
  {
    SdkLink link;
    if (!link.open(o.ip, o.mac)) {
      std::printf("could not connect\n");
      rc = 1;
    } else {
      std::string jpeg;
      std::vector<double> burst, paced, props;
      for (int i = 0; i < frames; ++i) {
        Clock::time_point t0 = Clock::now();
        if (grabFrame(link.handle, jpeg) != 0 || jpeg.empty()) rc = 1;
        burst.push_back(msSince(t0));
      }
      // At the program's pace (33 ms apart) every request meets a new frame.
      for (int i = 0; i < frames / 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
        Clock::time_point t0 = Clock::now();
        if (grabFrame(link.handle, jpeg) != 0 || jpeg.empty()) rc = 1;
        paced.push_back(msSince(t0));
      }
      std::uint32_t codes[] = {0x0104, 0x0100, 0x0103, 0x0101, 0x0105,
                               0x0109, 0x0108, 0x0115, 0x01C5, 0x0702};
      for (int i = 0; i < frames; ++i) {
        VCSDK::VcDeviceProperty* p = nullptr;
        std::int32_t n = 0;
        Clock::time_point t0 = Clock::now();
        if (VCSDK::GetSelectDeviceProperties(link.handle, 10, codes, &p, &n) != 0) rc = 1;
        props.push_back(msSince(t0));
        VCSDK::ReleaseDeviceProperties(link.handle, p);
      }
      std::printf("stand-in against kamora-vcam 1024x680, frame %zu bytes\n", jpeg.size());
      perf::report("live view round trip, back to back (cached)", kColumn, burst);
      perf::report("live view round trip, 33 ms apart (rendered)", kColumn, paced);
      perf::report("status read (10 properties)", kColumn, props);
    }
  }
  VCSDK::Release();
  return rc;
}
