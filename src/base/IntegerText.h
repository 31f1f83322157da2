#pragma once
// Integers as the program's text files hold them: blanks around ignored, an
// optional sign, decimal digits, or hexadecimal digits after "$" or "0x"/"0X".

#include <QString>
#include <optional>

namespace tarvok::text {

enum class HexRange {
    Strict, // the value must fit a signed 32-bit integer
    Wrap32, // hexadecimal up to FFFFFFFF gives its 32-bit pattern ($FFFFFFFF is -1)
};

std::optional<int> parseInteger(const QString& text, HexRange hex = HexRange::Strict);

} // namespace tarvok::text
