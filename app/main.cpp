#include <exception>

#include "app/application.h"
#include "app/frm_gui.h"

int main(int argc, char** argv) {
  varnok::Application application(argc, argv);
  try {
    varnok::Tfrm_GUI frm_GUI;
    frm_GUI.show();
    application.exec();
  } catch (...) {
    varnok::ReportCurrentException();
  }
  return 0;
}
