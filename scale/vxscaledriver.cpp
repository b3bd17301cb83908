#include "scale/vxscaledriver.h"

VxScaleDriver::VxScaleDriver(QObject *parent)
    : QObject(parent)
{
}

VxScaleDriver::~VxScaleDriver() = default;
