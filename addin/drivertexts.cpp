#include "addin/drivertexts.h"

// Narrow literals keep the source file's UTF-8 bytes (MSVC reads the sources
// as UTF-8 with /utf-8); they become QStrings once, when the library loads.

const char settingsDescriptionUtf8[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"
    "<Settings>"
    "<Page Caption=\"Общие\">"
    "<Parameter Name=\"ScaleModel\" Caption=\"Модель весов\" TypeValue=\"Number\" DefaultValue=\"0\">"
    "<ChoiceList>"
    "<Item Value=\"0\">LS515</Item>"
    "</ChoiceList>"
    "</Parameter>"
    "<Group Caption=\"Картинки товаров\">"
    "<Parameter Name=\"GoodsPicturesFromFiles\" Caption=\"Картинки товаров\" TypeValue=\"Number\" DefaultValue=\"0\">"
    "<ChoiceList>"
    "<Item Value=\"0\">Подбираются по номеру товаров</Item>"
    "</ChoiceList>"
    "</Parameter>"
    "</Group>"
    "</Page>"
    "<Page Caption=\"Параметры подключения\">"
    "<Parameter Name=\"ScaleIP\" Caption=\"IP адрес\" TypeValue=\"String\" DefaultValue=\"192.168.0.158\"/>"
    "<Parameter Name=\"ScalePort\" Caption=\"Порт\" TypeValue=\"Number\" DefaultValue=\"27706\"/>"
    "</Page>"
    "<Page Caption=\"Протокол\">"
    "<Parameter Name=\"EnLog\" Caption=\"Записывать протокол\" TypeValue=\"Boolean\" DefaultValue=\"true\"/>"
    "</Page>"
    "</Settings>";

const char actionsDescriptionUtf8[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"
    "<Actions>"
    "<Action Name=\"ShowLog\" Caption=\"Показать протокол\"/>"
    "</Actions>";
