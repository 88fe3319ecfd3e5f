// Loading shared libraries at run time.
//
// The library and embedded drivers reach the MySQL client and embedded server
// libraries only through functions looked up by name. `TDynLib` owns one
// loaded library: it is opened with RTLD_NOW | RTLD_LOCAL, so that the
// library's own symbols (mysql_*, my_*, ...) never bind to other modules of
// the process nor theirs to it, and closed when the object goes away.
#ifndef ROWSET_HOST_DYNLIB_H_
#define ROWSET_HOST_DYNLIB_H_

#include <string>

namespace rowset {

class TDynLib {
 public:
  TDynLib() = default;
  ~TDynLib() { Close(); }

  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;
  TDynLib(TDynLib&& other) noexcept;
  TDynLib& operator=(TDynLib&& other) noexcept;

  // Loads `file_name` (a bare name is searched the system's way). Closes
  // what was loaded before. False on failure; `LastError()` says why.
  bool Open(const std::string& file_name);
  // Releases the library; the addresses looked up in it become invalid.
  void Close();

  // Gives the library up without releasing it: it stays loaded for the rest
  // of the process. Returns the handle.
  void* Detach() {
    void* handle = handle_;
    handle_ = nullptr;
    return handle;
  }

  bool IsOpen() const { return handle_ != nullptr; }
  void* Handle() const { return handle_; }

  // Address of the exported `name`, or nullptr when the library has none
  // (or nothing is loaded).
  void* Symbol(const char* name) const;

  // The loader's text for the last failure of Open (empty after success).
  const std::string& LastError() const { return last_error_; }

 private:
  void* handle_ = nullptr;
  std::string last_error_;
};

// Full path of the running program's executable file; empty when the system
// does not tell.
std::string ExecutablePath();

}  // namespace rowset

#endif  // ROWSET_HOST_DYNLIB_H_
