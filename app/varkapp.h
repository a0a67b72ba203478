// Start-up of the application: the component library set up as the main
// window sets it up before its first search.
//
// Both programs call VarkApp_InitLibrary once, first thing: the GUI from the
// main window's initialisation, tessaly-cli from main. Every block it binds is
// static in this module (the scratch stack's 65536 bytes, the message pool's
// 3920 bytes, the 10 try frames), so there is one set-up per process.
// Not thread-safe: call it before any other thread exists.
#pragma once

// Sets up the component library in this order: the scratch stack on its
// static 65536-byte block, the program folder (the folder of the running
// executable, against which vark.ini, out.htm and outframe.htm are resolved),
// the error message pool of 5 records on a static 3920-byte block, the frame
// stack with 10 static frames, and the raising error hook Except3_RaiseHook.
// Call it once, before any report can be made.
void VarkApp_InitLibrary();
