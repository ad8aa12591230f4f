#include "ui/window/ParameterGrip.h"

namespace vn {

ParameterGrip::ParameterGrip(Window* owner, QWidget* parent) : QWidget(parent), window(owner)
{
    setObjectName(QStringLiteral("parameterGrip"));
    setFixedWidth(8);
}

} // namespace vn
