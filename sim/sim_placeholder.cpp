namespace veltrix::sim {}
