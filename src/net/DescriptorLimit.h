#pragma once

// A recorder of thousands of devices runs short of open files before
// anything else: every connection in progress holds a descriptor.

// Raises the soft limit of open files to the hard limit. Both programs call
// it at start.
void RaiseDescriptorLimit();

// How many more descriptors the process may open now: the soft limit less
// those that are open. Negative when that cannot be told.
long FreeDescriptors();
