// The Windows library entry: turns off thread attach and detach notifications, nothing more.
#if defined(_WIN32)
extern "C" __declspec(dllimport) int __stdcall DisableThreadLibraryCalls(void* module);

extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* /*reserved*/) {
  const unsigned long process_attach = 1;
  if (reason == process_attach) DisableThreadLibraryCalls(instance);
  return 1;
}
#endif
