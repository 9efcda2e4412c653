#include "SettingJson.h"

// Every accessor of the settings record is inline; this unit keeps the
// header compiled on its own.
