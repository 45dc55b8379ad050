#include "sheet/sheet.h"
