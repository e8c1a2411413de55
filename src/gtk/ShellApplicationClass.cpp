#include "gtk/ShellApplicationClass.h"

G_DECLARE_FINAL_TYPE(BrivokGtkApplication, brivok_gtk_application, BRIVOK, GTK_APPLICATION,
                     GtkApplication)
struct _BrivokGtkApplication {
  GtkApplication parent;
  void (*startingAsFirst)(gpointer);
  gpointer data;
};
G_DEFINE_TYPE(BrivokGtkApplication, brivok_gtk_application, GTK_TYPE_APPLICATION)

static void brivok_gtk_application_startup(GApplication* app) {
  auto* self = BRIVOK_GTK_APPLICATION(app);
  if (self->startingAsFirst) self->startingAsFirst(self->data);
  G_APPLICATION_CLASS(brivok_gtk_application_parent_class)->startup(app);
}

static void brivok_gtk_application_class_init(BrivokGtkApplicationClass* klass) {
  G_APPLICATION_CLASS(klass)->startup = brivok_gtk_application_startup;
}

static void brivok_gtk_application_init(BrivokGtkApplication*) {}

namespace brivok {

GtkApplication* newShellApplication(const char* applicationId, void (*startingAsFirst)(gpointer),
                                    gpointer data) {
  auto* app = BRIVOK_GTK_APPLICATION(g_object_new(brivok_gtk_application_get_type(),
                                                  "application-id", applicationId, "flags",
                                                  G_APPLICATION_DEFAULT_FLAGS, nullptr));
  app->startingAsFirst = startingAsFirst;
  app->data = data;
  return GTK_APPLICATION(app);
}

}  // namespace brivok
