// The two ways the device model reaches the screen. The GUI defines both; the client library
// only calls them (a program that links the model without the GUI supplies its own).
#pragma once

// Modal message box: 1 OK, 0 Cancel. The title chooses the icon ("Warning", "Error",
// "Critical error", "Confirmation", anything else neutral).
int MessageBox(const char* text, const char* title, bool withCancel);

// Appends one row to the main window's event list and counts it: severity 'I', 'W' or 'E'
// (other characters add nothing), the time text and the message.
void AddToClist(char severity, const char* time, const char* text);
