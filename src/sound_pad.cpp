#include "sound_pad.h"
