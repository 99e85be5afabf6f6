// The component-library layer: everything a form unit needs.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Controls.h"
#include "vcl/Forms.h"
#include "vcl/Graphics.h"
