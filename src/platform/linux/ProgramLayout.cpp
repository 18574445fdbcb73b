#include "platform/linux/ProgramLayout.h"

// The build defines each of these for the layout it links this file into.
namespace ProgramLayout {

std::string dataDirectory() {
    return QW_DATA_DIR;
}

std::string documentDirectory() {
    return QW_DOC_DIR;
}

std::string runtimeDirectory() {
    return QW_RUNTIME_DIR;
}

std::string shippedUnit() {
    return QW_SHIPPED_UNIT;
}

} // namespace ProgramLayout
