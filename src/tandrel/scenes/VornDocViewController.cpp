#include "tandrel/scenes/VornDocViewController.h"

VornDocViewController::VornDocViewController() = default;
VornDocViewController::~VornDocViewController() = default;
