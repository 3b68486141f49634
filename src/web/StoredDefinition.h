#pragma once
// Stored definitions: how a module class describes, as data, the components
// placed on it and the settings of everything. A definition is text kept
// beside the module class and registered with it (TClassInfo::Definition):
//
//   WM1: TWM1 {                    # the module: its name and class
//     OldCreateOrder = false       # a property: identifier, "string" or integer
//     Actions += {                 # a collection: one block per item added
//       Name = "main"
//       PathInfo = "/main"
//       OnAction = WM1loginAction  # a handler: a method of the module class
//     }
//     DB1: TIBDatabase {           # a component placed on the module
//       LoginPrompt = false
//     }
//   }
//
// Strings take the escapes \" \\ \r \n \t and \xHH (any byte). A property
// naming a component (Producer = PageProducer1) is set once every component
// of the definition exists. Properties are applied through the registered
// setters, in the order written, so every rule of a setter holds.
#include <string_view>

namespace nemvo {

class TComponent;
struct TComponentClass;

// Reads into `module` the definitions of its class and of the classes it
// derives from, from `base` down, creating the components placed on it.
// Raises EResNotFound "Resource <class> not found" when the module's own
// class has no definition, EReadError (EParserError) or EClassNotFound for a
// definition that cannot be applied, and whatever a setter or a component's
// constructor raises. Every component read gets its loading state ended
// (Loaded), also when reading stops at an exception.
void ReadStoredDefinitions(TComponent& module, const TComponentClass& base);

// Reads one definition text into `module`, whose class or an ancestor of it
// must be the class the text names.
void ReadStoredDefinition(TComponent& module, std::string_view text);

}  // namespace nemvo
