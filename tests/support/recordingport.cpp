#include "recordingport.h"
