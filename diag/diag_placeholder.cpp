namespace veltrix {}
