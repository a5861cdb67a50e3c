#pragma once

#include "app/MainFormState.h"
