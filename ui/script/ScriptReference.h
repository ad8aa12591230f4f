#pragma once

#include <QString>

namespace vn {

// The language reference the script editor shows beside the code, as HTML.
QString scriptReferenceHtml();

} // namespace vn
