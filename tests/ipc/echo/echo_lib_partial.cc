// A driver library that lacks three of its four entry points: loading it
// must fail cleanly.
extern "C" int driver_init(int, char **) { return 0; }
