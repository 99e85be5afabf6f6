// For tests only: the Qt widget behind a control of the Qt backend.
#pragma once

#include "vcl/Controls.h"

class QWidget;

namespace vcl::qt {
QWidget *WidgetOf(const TControl &Control);
}
