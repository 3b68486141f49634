#pragma once
// The encoder for cookie names and values.
#include <string>
#include <string_view>

namespace nemvo {

// Letters, digits and ! $ ' ( ) * - . @ _ stay; a blank gives "+"; every other
// byte gives "%XY" with upper-case hexadecimal digits.
std::string URLEncode(std::string_view text);

}  // namespace nemvo
