#include "gtk/PagePolicy.h"

#include <memory>
#include <vector>

#include "bridge/NavigationPolicy.h"
#include "core/Url.h"
#include "gtk/Shortcuts.h"
#include "gtk/UnwatchedPages.h"

namespace brivok {

namespace {

constexpr const char* kScriptDialogKey = "brivok-script-dialog";
constexpr const char* kFileRequestKey = "brivok-file-request";
constexpr const char* kGovernorKey = "brivok-governor";
constexpr std::size_t kStartsKept = 32;

using Governor = ViewGovernor;

std::string originOf(const char* url) {
  const auto parsed = url ? Url::parse(url) : std::nullopt;
  return parsed ? parsed->origin() : std::string();
}

std::string refererOf(WebKitURIRequest* request) {
  SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
  return originOf(headers ? soup_message_headers_get_one(headers, "Referer") : nullptr);
}

// Fills in, for the main frame's response or failed load of `request.url`, who started it.
void fillStart(const Governor& governor, NavigationRequest& request, WebKitURIRequest* sent) {
  request.guardTop = governor.guardTop;
  request.homeOrigins = governor.homeOrigins;
  request.shownOrigin = governor.shownOrigin;
  for (auto it = governor.started.rbegin(); it != governor.started.rend(); ++it) {
    if (it->url != request.url) continue;
    request.initiator = it->initiator;
    request.byUser = it->byUser;
    return;
  }
  if (sent) request.initiator = refererOf(sent);
}

void noteStart(Governor& governor, WebKitNavigationAction* action, const std::string& url) {
  if (!governor.guardTop) return;
  const auto type = webkit_navigation_action_get_navigation_type(action);
  const bool byUser = webkit_navigation_action_is_user_gesture(action) ||
                      type == WEBKIT_NAVIGATION_TYPE_BACK_FORWARD ||
                      type == WEBKIT_NAVIGATION_TYPE_RELOAD ||
                      type == WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED;
  governor.started.push_back(
      {url, refererOf(webkit_navigation_action_get_request(action)), byUser});
  if (governor.started.size() > kStartsKept) governor.started.pop_front();
}

Navigation decide(Governor& governor, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                  NavigationRequest& request) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    // A frame of the page loads what it likes.
    if (!webkit_response_policy_decision_is_main_frame_main_resource(response)) {
      return Navigation::Allow;
    }
    WebKitURIRequest* sent = webkit_response_policy_decision_get_request(response);
    const char* uri = webkit_uri_request_get_uri(sent);
    request.url = uri ? uri : "";
    fillStart(governor, request, sent);
    const Navigation verdict = decideMainFrameResponse(request);
    // Nothing is downloaded in place of the page.
    if (verdict == Navigation::Allow &&
        !webkit_response_policy_decision_is_mime_type_supported(response)) {
      return Navigation::Cancel;
    }
    return verdict;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  request.url = uri ? uri : "";
  request.newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
  request.userGesture = webkit_navigation_action_is_user_gesture(action);
  if (!request.newWindow) noteStart(governor, action, request.url);
  return decideNavigation(request);
}

gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                      gpointer data) {
  auto* governor = static_cast<Governor*>(data);
  NavigationRequest request;
  request.insideDomain = governor->insideDomain;
  switch (decide(*governor, decision, type, request)) {
    case Navigation::Allow:
    case Navigation::AtResponse:
      webkit_policy_decision_use(decision);
      break;
    case Navigation::OpenOutside:
      webkit_policy_decision_ignore(decision);
      if (governor->openOutside) governor->openOutside(request.url);
      break;
    case Navigation::Cancel:
      webkit_policy_decision_ignore(decision);
      break;
  }
  return TRUE;
}

// Only the main frame's loads fail here. A failed load of an outside address (a host that is
// down or offline, a mail link the engine cannot show) still reaches the desktop, and the page
// on screen stays in place of the engine's error page.
gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, const char* uri, GError* error,
                    gpointer data) {
  if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
      g_error_matches(error, WEBKIT_POLICY_ERROR,
                      WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)) {
    return FALSE;  // stopped or decided elsewhere: the engine shows nothing for these
  }
  auto* governor = static_cast<Governor*>(data);
  NavigationRequest request;
  request.url = uri ? uri : "";
  request.insideDomain = governor->insideDomain;
  fillStart(*governor, request, nullptr);
  switch (decideMainFrameResponse(request)) {
    case Navigation::Allow:
      return FALSE;  // the shell's own page: the engine reports it as it would
    case Navigation::OpenOutside:
      if (governor->openOutside) governor->openOutside(request.url);
      return TRUE;
    default:
      return TRUE;
  }
}

GtkWindow* windowOf(WebKitWebView* view) {
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
  return gtk_widget_is_toplevel(top) && GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

gboolean scriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer) {
  showScriptDialog(windowOf(view), dialog, true);
  return TRUE;
}

void answerScriptDialog(GtkDialog* box, int response, gpointer entry) {
  auto* dialog =
      static_cast<WebKitScriptDialog*>(g_object_get_data(G_OBJECT(box), kScriptDialogKey));
  switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(dialog, response == GTK_RESPONSE_OK);
      break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      // "OK" on an emptied field gives the empty text; any other way out gives null.
      if (response == GTK_RESPONSE_OK) {
        webkit_script_dialog_prompt_set_text(dialog, gtk_entry_get_text(GTK_ENTRY(entry)));
      }
      break;
    default:
      break;
  }
  gtk_widget_destroy(GTK_WIDGET(box));  // which hands the answer to the engine
}

void answerFileChooser(GtkNativeDialog* chooser, int response, gpointer) {
  auto* request =
      static_cast<WebKitFileChooserRequest*>(g_object_get_data(G_OBJECT(chooser), kFileRequestKey));
  GSList* files = response == GTK_RESPONSE_ACCEPT
                      ? gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(chooser))
                      : nullptr;
  if (files) {
    std::vector<const char*> names;
    for (GSList* f = files; f; f = f->next) names.push_back(static_cast<const char*>(f->data));
    names.push_back(nullptr);
    webkit_file_chooser_request_select_files(request, names.data());
    g_slist_free_full(files, g_free);
  } else {
    webkit_file_chooser_request_cancel(request);
  }
  g_object_unref(chooser);  // the reference taken when it was shown
}

gboolean fileChooser(WebKitWebView* view, WebKitFileChooserRequest* request, gpointer) {
  // The desktop's own chooser where there is one (a portal), GTK's otherwise. Files always,
  // several when the input allows it; the page's accept list is not applied.
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      nullptr, windowOf(view), GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser),
                                       webkit_file_chooser_request_get_select_multiple(request));
  // A request let go unanswered is cancelled by the engine.
  g_object_set_data_full(G_OBJECT(chooser), kFileRequestKey, g_object_ref(request), g_object_unref);
  g_signal_connect(chooser, "response", G_CALLBACK(answerFileChooser), nullptr);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));  // held until it answers
  return TRUE;
}

}  // namespace

void withoutDownloadItems(WebKitWebView* view) {
  g_signal_connect(view, "context-menu",
                   G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                  WebKitHitTestResult*, gpointer) -> gboolean {
                     GList* items = g_list_copy(webkit_context_menu_get_items(menu));
                     for (GList* i = items; i; i = i->next) {
                       auto* item = WEBKIT_CONTEXT_MENU_ITEM(i->data);
                       switch (webkit_context_menu_item_get_stock_action(item)) {
                         case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK:
                         case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
                         case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK:
                         case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK:
                           webkit_context_menu_remove(menu, item);
                           break;
                         default:
                           break;
                       }
                     }
                     g_list_free(items);
                     return FALSE;  // the rest of the menu shows as usual
                   }),
                   nullptr);
}

ViewGovernor* governView(WebKitWebView* view, std::string insideDomain,
                         std::function<void(const std::string&)> openOutside, bool guardTop) {
  auto* governor = new Governor;
  governor->insideDomain = std::move(insideDomain);
  governor->openOutside = std::move(openOutside);
  governor->guardTop = guardTop;
  // Freed when the view is, after every handler of the view is gone.
  g_object_set_data_full(
      G_OBJECT(view), kGovernorKey, governor,
      +[](gpointer data) { delete static_cast<Governor*>(data); });
  g_signal_connect(view, "decide-policy", G_CALLBACK(decidePolicy), governor);
  g_signal_connect(view, "load-failed", G_CALLBACK(loadFailed), governor);
  g_signal_connect(
      view, "load-changed", G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent event, gpointer data) {
        if (event == WEBKIT_LOAD_COMMITTED) {
          static_cast<Governor*>(data)->shownOrigin = originOf(webkit_web_view_get_uri(v));
        }
      }),
      governor);
  g_signal_connect(view, "script-dialog", G_CALLBACK(scriptDialog), governor);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(fileChooser), governor);
  withoutDownloadItems(view);
  return governor;
}

void showScriptDialog(GtkWindow* parent, WebKitScriptDialog* dialog, bool modal) {
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    answerUnwatched(dialog);  // leaving a page is never held up, for anyone
    return;
  }
  const auto flags =
      GtkDialogFlags(GTK_DIALOG_DESTROY_WITH_PARENT | (modal ? GTK_DIALOG_MODAL : 0));
  GtkWidget* box =
      gtk_message_dialog_new(parent, flags, GTK_MESSAGE_OTHER,
                             type == WEBKIT_SCRIPT_DIALOG_ALERT ? GTK_BUTTONS_OK : GTK_BUTTONS_NONE,
                             "%s", webkit_script_dialog_get_message(dialog));
  GtkWidget* entry = nullptr;
  if (type != WEBKIT_SCRIPT_DIALOG_ALERT) {
    gtk_dialog_add_buttons(GTK_DIALOG(box), "Cancel", GTK_RESPONSE_CANCEL, "OK", GTK_RESPONSE_OK,
                           nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  }
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
    entry = gtk_entry_new();
    gtk_widget_set_size_request(entry, 280, -1);
    const char* text = webkit_script_dialog_prompt_get_default_text(dialog);
    gtk_entry_set_text(GTK_ENTRY(entry), text ? text : "");
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_end(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box))), entry,
                     FALSE, FALSE, 0);
    gtk_widget_show(entry);
    gtk_window_set_focus(GTK_WINDOW(box), entry);  // typing goes to the field at once
  }
  // Closing the dialog by any means, its window's end included, answers the engine.
  g_object_set_data_full(
      G_OBJECT(box), kScriptDialogKey, webkit_script_dialog_ref(dialog), +[](gpointer data) {
        auto* d = static_cast<WebKitScriptDialog*>(data);
        webkit_script_dialog_close(d);
        webkit_script_dialog_unref(d);
      });
  g_signal_connect(box, "response", G_CALLBACK(answerScriptDialog), entry);
  carryShortcuts(GTK_WINDOW(box));
  gtk_widget_show(box);
}

void showSignInDialog(GtkWindow* window, WebKitScriptDialog* dialog, bool closing) {
  if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_ALERT && !closing) {
    showScriptDialog(window, dialog, false);
  } else {
    answerUnwatched(dialog);
  }
}

}  // namespace brivok
