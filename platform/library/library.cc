// LoadLibraryA and friends over dlopen, each module in an owner object.
#include "platform/library/library.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>

#include "platform/base/handles.h"
#include "platform/files/paths.h"

namespace kel3 {
namespace {

thread_local std::string t_lastError;

// One loaded library; the destructor unloads it.
class Module : public KernelObject {
 public:
  Module(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~Module() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  void* handle() const { return handle_; }
  const std::string& path() const { return path_; }

 private:
  void* handle_;
  std::string path_;
};

}  // namespace

const char* LastLibraryError() {
  return t_lastError.c_str();
}

const char* ModulePath(HMODULE module) {
  auto* m = LookUpHandleAs<Module>(module);
  return m != nullptr ? m->path().c_str() : "";
}

bool ExportExtent(HMODULE module, const char* name, const void** address, size_t* size) {
  auto* m = LookUpHandleAs<Module>(module);
  if (m == nullptr || name == nullptr || address == nullptr || size == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  void* symbol = dlsym(m->handle(), name);
  Dl_info info{};
  void* found = nullptr;  // the symbol's ElfW(Sym) entry
  link_map* own = nullptr;
  // dlsym also searches the library's dependencies: a symbol found in
  // another object, or one without a recorded size (declared in assembly,
  // say), gives no extent to trust.
  if (symbol == nullptr || dladdr1(symbol, &info, &found, RTLD_DL_SYMENT) == 0 ||
      found == nullptr || static_cast<const ElfW(Sym)*>(found)->st_size == 0 ||
      info.dli_saddr != symbol || dlinfo(m->handle(), RTLD_DI_LINKMAP, &own) != 0 ||
      own == nullptr || info.dli_fname == nullptr ||
      std::strcmp(info.dli_fname, own->l_name) != 0) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  *address = symbol;
  *size = static_cast<size_t>(static_cast<const ElfW(Sym)*>(found)->st_size);
  return true;
}

}  // namespace kel3

HMODULE LoadLibraryA(LPCSTR path) {
  if (path == nullptr || path[0] == '\0') {
    kel3::t_lastError = "no library named";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  const std::string host = path[0] == '/' ? std::string(path) : kel3::HostPath(path);
  if (host.empty()) {
    kel3::t_lastError = std::string("cannot map the path ") + path;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // RTLD_LOCAL: two languages' libraries export the same table name.
  void* handle = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    kel3::t_lastError = why != nullptr ? why : "cannot load";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(kel3::IssueHandle(new kel3::Module(handle, host)));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  auto* m = kel3::LookUpHandleAs<kel3::Module>(module);
  if (m == nullptr || name == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* symbol = dlsym(m->handle(), name);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  if (kel3::LookUpHandleAs<kel3::Module>(module) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(module);
}
