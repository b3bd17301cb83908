#pragma once

// The settings description that GetParameters hands to the platform's
// settings form, and the list of additional actions, as UTF-8 text.
extern const char settingsDescriptionUtf8[];
extern const char actionsDescriptionUtf8[];
