// Initialised at start-up from a call the compiler cannot see through: it
// lists the initialiser in .init_array for a C run-time to call.
int FirstValue();

int value = FirstValue();
