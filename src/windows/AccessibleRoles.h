#pragma once

namespace kavelo {

// Assistive technology takes each of Kavelo's own windows for what it is: a
// window (a plain widget would pass for a filler, whose activation a screen
// reader does not announce), and the ring alert an alert, which a screen
// reader reads out, caller and all, the moment it shows. Every window calls
// this before it is shown; the first call installs the roles.
void useAccessibleRoles();

} // namespace kavelo
