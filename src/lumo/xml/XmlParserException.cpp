#include "lumo/xml/XmlParserException.h"

namespace lumo::xml {

XmlParserException::XmlParserException(std::string message, std::string xml, int position)
    : message(std::move(message)), position(position), xml(std::move(xml)) {
    for (int i = 0; i < position; ++i) {
        char c = i < static_cast<int>(this->xml.size()) ? this->xml[i] : 0;
        if (c == '\n') {
            ++lineNumber;
            positionAtLine = 0;
        } else if (c != '\r') {
            ++positionAtLine;
        }
    }
}

std::string XmlParserException::toString() const {
    return "lumo.xml.XmlParserException: " + message + " at line " + std::to_string(lineNumber) + " char " +
           std::to_string(positionAtLine);
}

}  // namespace lumo::xml
