// The user-interface toolkit of libquillon-ui: views, view controllers, windows, controls,
// gesture recognisers, animations, drawing, images and codecs, the motion sensor and the
// event script. Everything runs on the library's main run loop.
#pragma once

#include "quillon/ui/AlertView.h"
#include "quillon/ui/Application.h"
#include "quillon/ui/Button.h"
#include "quillon/ui/Color.h"
#include "quillon/ui/Event.h"
#include "quillon/ui/EventScript.h"
#include "quillon/ui/Geometry.h"
#include "quillon/ui/GestureRecognizer.h"
#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/Image.h"
#include "quillon/ui/ImageView.h"
#include "quillon/ui/Label.h"
#include "quillon/ui/MotionManager.h"
#include "quillon/ui/Object.h"
#include "quillon/ui/Screen.h"
#include "quillon/ui/TableView.h"
#include "quillon/ui/TextField.h"
#include "quillon/ui/TextView.h"
#include "quillon/ui/Timer.h"
#include "quillon/ui/View.h"
#include "quillon/ui/ViewController.h"
#include "quillon/ui/Window.h"
