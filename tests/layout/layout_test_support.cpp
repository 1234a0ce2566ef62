// The helpers live in tests/support/bench_scene.cpp; this file stays for the targets that still
// list it.
