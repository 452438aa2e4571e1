#pragma once

class SignInService;
class BoardStore;
class SyncService;

/// The three long-lived services every view of the window can reach. The application entry owns
/// them; views only hold these pointers.
struct AppServices
{
    BoardStore *store = nullptr;
    SignInService *authService = nullptr;
    SyncService *syncService = nullptr;
};
