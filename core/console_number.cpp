#include "console_number.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace qir {

FixedText format_fixed(double value) {
  FixedText out;
  if (std::isnan(value))
    std::strcpy(out.text, "nan");
  else if (std::isinf(value))
    std::strcpy(out.text, value > 0 ? "inf" : "-inf");
  else
    std::snprintf(out.text, fixed_text_size, "%f", value);
  return out;
}

}  // namespace qir
