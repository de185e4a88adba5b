// Message texts of the result codes the automation layer produces, as Windows' English message
// table words them.
#include "automation/HResultText.h"

#include <cstdio>

namespace velq3 {

const char* KnownHResultText(HRESULT hr) {
    switch (hr) {
    case S_OK: return "The operation completed successfully.";
    case S_FALSE: return "False";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_FAIL: return "Unspecified error";
    case E_UNEXPECTED: return "Catastrophic failure";
    case E_OUTOFMEMORY: return "Not enough memory resources are available to complete this operation.";
    case E_INVALIDARG: return "The parameter is incorrect.";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation (or class object is remote)";
    case CLASS_E_CLASSNOTAVAILABLE: return "ClassFactory cannot supply requested class";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case CO_E_CLASSSTRING: return "Invalid class string";
    case CO_E_SERVER_EXEC_FAILURE: return "Server execution failed";
    case RPC_E_INVALID_DATAPACKET: return "The data packet with the marshalled parameter data is incorrect.";
    case RPC_E_INVALIDMETHOD: return "The method called does not exist on the server.";
    case RPC_E_DISCONNECTED: return "The object invoked has disconnected from its clients.";
    case DISP_E_UNKNOWNINTERFACE: return "Unknown interface.";
    case DISP_E_MEMBERNOTFOUND: return "Member not found.";
    case DISP_E_PARAMNOTFOUND: return "Parameter not found.";
    case DISP_E_TYPEMISMATCH: return "Type mismatch.";
    case DISP_E_UNKNOWNNAME: return "Unknown name.";
    case DISP_E_NONAMEDARGS: return "No named arguments.";
    case DISP_E_BADVARTYPE: return "Bad variable type.";
    case DISP_E_EXCEPTION: return "Exception occurred.";
    case DISP_E_OVERFLOW: return "Out of present range.";
    case DISP_E_BADINDEX: return "Invalid index.";
    case DISP_E_BADPARAMCOUNT: return "Invalid number of parameters.";
    case DISP_E_PARAMNOTOPTIONAL: return "Parameter not optional.";
    case TYPE_E_REGISTRYACCESS: return "Error accessing the OLE registry.";
    case TYPE_E_LIBNOTREGISTERED: return "Library not registered.";
    case TYPE_E_ELEMENTNOTFOUND: return "Element not found.";
    case TYPE_E_CANTLOADLIBRARY: return "Error loading type library/DLL.";
    default: return nullptr;
    }
}

std::string UnknownHResultText(HRESULT hr) {
    char text[40];
    std::snprintf(text, sizeof text, "Unknown error 0x%08X", static_cast<unsigned>(hr));
    return text;
}

} // namespace velq3
