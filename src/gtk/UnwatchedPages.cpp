#include "gtk/UnwatchedPages.h"

#include <string>

#include "bridge/NavigationPolicy.h"

namespace brivok {
namespace {

gboolean answerAtOnce(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
  answerUnwatched(dialog);
  return TRUE;
}

gboolean denyPermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}

// Requests for something on screen that no one would see: refused, so nothing opens a
// window (a print dialog runs modal, holding the whole shell) or waits for a person.
gboolean refuse(WebKitWebView*, gpointer) {
  return TRUE;
}
gboolean refuseColor(WebKitWebView*, WebKitColorChooserRequest* request, gpointer) {
  webkit_color_chooser_request_cancel(request);
  return TRUE;
}
gboolean refuseMenu(WebKitWebView*, WebKitOptionMenu* menu, GdkEvent*, GdkRectangle*, gpointer) {
  webkit_option_menu_close(menu);
  return TRUE;
}
gboolean withoutCredentials(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  // Goes on without credentials: the site's own answer to that is the page.
  webkit_authentication_request_authenticate(request, nullptr);
  return TRUE;
}

gboolean decidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                      WebKitPolicyDecisionType type, gpointer inPlace) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    // A response the engine cannot show would become a download: the load fails instead.
    if (webkit_response_policy_decision_is_mime_type_supported(
            WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
      webkit_policy_decision_use(decision);
    } else {
      webkit_policy_decision_ignore(decision);
    }
    return TRUE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = webkit_uri_request_get_uri(request);
  switch (decideUnwatchedNavigation(uri ? uri : "",
                                    type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION,
                                    GPOINTER_TO_INT(inPlace))) {
    case UnwatchedNavigation::Allow:
      webkit_policy_decision_use(decision);
      break;
    case UnwatchedNavigation::LoadInPlace:
      webkit_policy_decision_ignore(decision);
      webkit_web_view_load_request(view, request);
      break;
    case UnwatchedNavigation::Refuse:
      webkit_policy_decision_ignore(decision);
      break;
  }
  return TRUE;
}

}  // namespace

void answerUnwatched(WebKitScriptDialog* dialog) {
  switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
      break;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
      break;
    default:
      break;  // an alert just returns; a prompt left unanswered returns null
  }
}

gboolean refuseFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

void governUnwatchedView(WebKitWebView* view, bool newWindowsInPlace) {
  // Connected for the view's whole life, with no data that could go before it.
  g_signal_connect(view, "script-dialog", G_CALLBACK(answerAtOnce), nullptr);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(refuseFileChooser), nullptr);
  g_signal_connect(view, "permission-request", G_CALLBACK(denyPermission), nullptr);
  g_signal_connect(view, "print", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "context-menu", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "enter-fullscreen", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "show-notification", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "run-color-chooser", G_CALLBACK(refuseColor), nullptr);
  g_signal_connect(view, "show-option-menu", G_CALLBACK(refuseMenu), nullptr);
  g_signal_connect(view, "authenticate", G_CALLBACK(withoutCredentials), nullptr);
  g_signal_connect(view, "decide-policy", G_CALLBACK(decidePolicy),
                   GINT_TO_POINTER(newWindowsInPlace));
}

}  // namespace brivok
