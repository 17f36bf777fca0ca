#ifndef NUMBERCONVENTIONS_H
#define NUMBERCONVENTIONS_H

// One decimal mark in the whole program, whatever the user's locale: "." and no group separators in
// every field, axis, label and file. Call once, after the application object exists (it sets the C
// library's locale from the environment).
void ApplyNumberConventions();

#endif // NUMBERCONVENTIONS_H
