#include "host_contract.h"

#include <stdexcept>

namespace pdthost {
namespace {

using ReceiveDataEntry = void(__stdcall*)(VARIANT* result, void* object);
using ConfigureEntry = void(__stdcall*)(void* object);

}  // namespace

PdtLibrary::PdtLibrary(const std::wstring& path) {
    module_ = LoadLibraryW(path.c_str());
    if (!module_)
        throw std::runtime_error("cannot load the driver library (error " +
                                 std::to_string(GetLastError()) + ")");
    initDll_ =
        reinterpret_cast<void** (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "InitDll")));
    if (!initDll_) {
        FreeLibrary(module_);
        throw std::runtime_error("the driver library has no InitDll");
    }
}

PdtLibrary::~PdtLibrary() {
    FreeLibrary(module_);
}

void** PdtLibrary::InitDll() {
    driverReference_ = initDll_();
    return driverReference_;
}

void* PdtLibrary::Object() const {
    if (!driverReference_) throw std::logic_error("InitDll has not been called");
    return *driverReference_;
}

void* const* PdtLibrary::Table() const {
    return *static_cast<void* const* const*>(Object());
}

void PdtLibrary::ReceiveData(VARIANT* result) const {
    const auto entry = reinterpret_cast<ReceiveDataEntry>(Table()[0]);
    entry(result, Object());
}

void PdtLibrary::Configure() const {
    const auto entry = reinterpret_cast<ConfigureEntry>(Table()[1]);
    entry(Object());
}

}  // namespace pdthost
