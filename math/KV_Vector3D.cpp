#include "math/KV_Vector2D.h"
#include "math/KV_Vector3D.h"
