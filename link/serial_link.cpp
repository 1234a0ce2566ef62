#include "link/serial_link.h"

#include <iostream>

namespace veltrix {

SerialLink::SerialLink()
    : frameBuffer(kFrameBufferSize), console(&std::cout), clock(&SystemClock::Instance()) {}

SerialLink::~SerialLink() { ClosePort(*this); }

int ClosePort(SerialLink& link) {
    if (link.handle) {
        link.handle->Close();
        link.handle.reset();
    }
    return kErrorSuccess;
}

}  // namespace veltrix
