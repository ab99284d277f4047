// picconv built without the Qt drawing layer reads no metafiles: nothing to register.
#include <string>

void RegisterProgramFormats(int&, char**, const std::string&) {}
