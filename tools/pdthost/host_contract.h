// The host's side of PDT.dll's contract, and nothing more: load the library,
// call InitDll, then reach the operations through memory:
//   P = InitDll(); O = *P; T = *O; T[0] = ReceiveData, T[1] = Configure,
// both stdcall with the object passed last (ReceiveData(&variant, O)).
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

namespace pdthost {

class PdtLibrary {
  public:
    // Loads the DLL; throws std::runtime_error when it cannot be loaded or
    // has no InitDll.
    explicit PdtLibrary(const std::wstring& path);
    PdtLibrary(const PdtLibrary&) = delete;
    PdtLibrary& operator=(const PdtLibrary&) = delete;
    ~PdtLibrary();

    // Calls InitDll and keeps the address it returns; returns it too.
    void** InitDll();
    // The object the kept address leads to now (*P).
    void* Object() const;
    // T[0](result, O) and T[1](O) with O read through the kept address.
    void ReceiveData(VARIANT* result) const;
    void Configure() const;

  private:
    void* const* Table() const;

    HMODULE module_ = nullptr;
    void** (*initDll_)() = nullptr;
    void** driverReference_ = nullptr;
};

}  // namespace pdthost
