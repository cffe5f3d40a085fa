// Loads like a module but does not add methods.
extern "C" int tarvioSomethingElse() { return 0; }
