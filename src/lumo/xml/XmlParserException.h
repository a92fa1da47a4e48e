#pragma once
#include <string>

#include "runtime/Thrown.h"

namespace lumo::xml {

// A parse failure with its place: lineNumber counts from 1, positionAtLine from 0.
class XmlParserException : public runtime::Thrown {
public:
    XmlParserException(std::string message, std::string xml, int position);
    // "lumo.xml.XmlParserException: MESSAGE at line L char C"
    std::string toString() const override;

    std::string message;
    int lineNumber = 1;
    int positionAtLine = 0;
    int position;
    std::string xml;
};

}  // namespace lumo::xml
