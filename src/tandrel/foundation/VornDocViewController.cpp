#include "tandrel/foundation/VornDocViewController.h"

VornDocViewController::VornDocViewController() = default;
VornDocViewController::~VornDocViewController() = default;
