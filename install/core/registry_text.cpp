#include "registry_text.h"

#include "ombra/platform/registry.h"

namespace ombra::install {

std::string registryErrorText(LONG error)
{
    switch (error) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough storage is available to process this command.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_BAD_PATHNAME: return "The specified path is invalid.";
    case ERROR_MORE_DATA: return "More data is available.";
    case ERROR_BADDB: return "The configuration registry database is corrupt.";
    case ERROR_BADKEY: return "The configuration registry key is invalid.";
    case ERROR_CANTREAD: return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE: return "The configuration registry key could not be written.";
    case ERROR_KEY_DELETED: return "Illegal operation attempted on a registry key that has been marked for deletion.";
    default: return "Registry error " + std::to_string(error) + ".";
    }
}

}  // namespace ombra::install
