#pragma once

#include "pen/PenTypes.h"
