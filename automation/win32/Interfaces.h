// The system interfaces on Windows: IUnknown, IDispatch, ISupportErrorInfo and IClassFactory
// of ole32 and oleaut32, under the names the automation objects use.
#pragma once

#include <cstdint>

#include <windows.h>
#include <oaidl.h>
#include <objbase.h>
#include <unknwn.h>

#include "automation/Guid.h"
#include "automation/HResult.h"
#include "automation/Variant.h"

namespace velq3 {

using ::IClassFactory;
using ::IDispatch;
using ::ISupportErrorInfo;
using ::IUnknown;

using ::DISPID;
using ::LCID;
using ::UINT;
using ::ULONG;
using ::WORD;

// The argument of IClassFactory::LockServer.
using LockFlag = ::BOOL;

inline constexpr LCID kLocaleEnglishUS = 1033;

template <class T> constexpr const IID& kIidOf = T::kIid;
template <> inline constexpr const IID& kIidOf<IUnknown> = IID_IUnknown;
template <> inline constexpr const IID& kIidOf<IDispatch> = IID_IDispatch;
template <> inline constexpr const IID& kIidOf<ISupportErrorInfo> = IID_ISupportErrorInfo;
template <> inline constexpr const IID& kIidOf<IClassFactory> = IID_IClassFactory;

} // namespace velq3

#include "automation/ComPtr.h"
