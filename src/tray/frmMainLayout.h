#pragma once

#include "platform/Forms.h"
#include "tray/Picture.h"
#include "tray/PropertyBag.h"

// The hidden main window: its three timers, the two picture boxes that hold the tray's state
// pictures, and the button it was designed with.
FormLayout frmMainLayout();

// The main window's tray component as it was saved with the window: out of the tray, the open-network
// picture, the tip "Vesk Quietwire", no disabled picture, enabled.
PropertyBag VeskTray1Properties(const PictureRef& openNetwork);

// The tray component's own window, which owns the icon and hears the shell's messages about it.
FormLayout VeskTray1WindowLayout();
