# String tables in six languages: en, fr, ja, ko, zh-Hans, zh-Hant.
# Key: string resource id. Numbered messages live at message + 500.
# Texts that are names or formats (product word, sound names) are the same
# in every language.
M = 500
S = {}

def same(i, t):
    S[i] = (t,) * 6

def s(i, en, fr, ja, ko, zhs, zht):
    S[i] = (en, fr, ja, ko, zhs, zht)

# Direct string ids.
s(1, "Halvanet", "Halvanet", "Halvanet", "Halvanet", "Halvanet", "Halvanet")
s(2, "&Details >>", "&Détails >>", "詳細(&D) >>", "자세히(&D) >>", "详细信息(&D) >>", "詳細資料(&D) >>")
s(3, "<< &Details", "<< &Détails", "<< 詳細(&D)", "<< 자세히(&D)", "<< 详细信息(&D)", "<< 詳細資料(&D)")
s(4, "&Close", "&Fermer", "閉じる(&C)", "닫기(&C)", "关闭(&C)", "關閉(&C)")
s(5, "Please enter the full URL of the Halvanet web server, beginning with http:// or https://, for example https://halvanet.example.com/",
  "Veuillez saisir l'URL complète du serveur Web Halvanet, commençant par http:// ou https://, par exemple https://halvanet.example.com/",
  "Halvanet Web サーバーの完全な URL を http:// または https:// から入力してください (例: https://halvanet.example.com/)。",
  "http:// 또는 https://로 시작하는 Halvanet 웹 서버의 전체 URL을 입력하십시오(예: https://halvanet.example.com/).",
  "请输入以 http:// 或 https:// 开头的 Halvanet Web 服务器完整 URL，例如 https://halvanet.example.com/",
  "請輸入以 http:// 或 https:// 開頭的 Halvanet Web 伺服器完整 URL，例如 https://halvanet.example.com/")
s(7, "Authentication for %s", "Authentification pour %s", "%s の認証", "%s 인증", "%s 的身份验证", "%s 的驗證")
same(9, "Quorvellan")
s(10, "Connecting to the application server...", "Connexion au serveur d'applications...", "アプリケーション サーバーに接続しています...",
  "응용 프로그램 서버에 연결하는 중...", "正在连接到应用程序服务器...", "正在連線到應用程式伺服器...")
s(18, "Change Password for %s", "Modifier le mot de passe pour %s", "%s のパスワードの変更", "%s 암호 변경", "更改 %s 的密码", "變更 %s 的密碼")
s(19, "The password and confirmation do not match.", "Le mot de passe et sa confirmation ne correspondent pas.",
  "パスワードと確認用パスワードが一致しません。", "암호와 암호 확인이 일치하지 않습니다.", "密码与确认密码不匹配。", "密碼與確認密碼不相符。")
s(22, "The password was not remembered: the password cache keeps passwords of at most 16 bytes. Any password remembered before for this location has been forgotten.",
  "Le mot de passe n'a pas été mémorisé : le cache des mots de passe ne conserve que des mots de passe de 16 octets au plus. Tout mot de passe mémorisé auparavant pour cet emplacement a été oublié.",
  "パスワードは記憶されませんでした。パスワード キャッシュに保存できるのは 16 バイト以内のパスワードだけです。この場所について以前に記憶されたパスワードは削除されました。",
  "암호가 기억되지 않았습니다. 암호 캐시는 16바이트 이하의 암호만 보관합니다. 이 위치에 대해 이전에 기억된 암호는 삭제되었습니다.",
  "未记住密码：密码缓存只保存不超过 16 个字节的密码。以前为此位置记住的密码已被清除。",
  "未記住密碼：密碼快取只保存不超過 16 個位元組的密碼。先前為此位置記住的密碼已被清除。")
s(23, "The password was not remembered: the settings could not be saved.",
  "Le mot de passe n'a pas été mémorisé : les paramètres n'ont pas pu être enregistrés.",
  "パスワードは記憶されませんでした。設定を保存できませんでした。",
  "암호가 기억되지 않았습니다. 설정을 저장할 수 없습니다.",
  "未记住密码：无法保存设置。",
  "未記住密碼：無法儲存設定。")
s(20, "Cancel", "Annuler", "キャンセル", "취소", "取消", "取消")
s(21, "Details:", "Détails :", "詳細:", "자세히:", "详细信息:", "詳細資料:")
s(564, "Copy", "Copier", "コピー", "복사", "复制", "複製")
s(565, "Paste", "Coller", "貼り付け", "붙여넣기", "粘贴", "貼上")
s(712, "The new password and confirmation don't match.", "Le nouveau mot de passe et sa confirmation ne correspondent pas.",
  "新しいパスワードと確認用パスワードが一致しません。", "새 암호와 암호 확인이 일치하지 않습니다.", "新密码与确认密码不匹配。", "新密碼與確認密碼不相符。")
s(741, "No Scaling", "Aucune mise à l'échelle", "拡大縮小なし", "배율 조정 안 함", "不缩放", "不縮放")
s(742, "Fast Scaling", "Mise à l'échelle rapide", "高速拡大縮小", "빠른 배율 조정", "快速缩放", "快速縮放")
s(743, "Smooth Scaling", "Mise à l'échelle lissée", "スムーズ拡大縮小", "부드러운 배율 조정", "平滑缩放", "平滑縮放")
s(823, "Connection Info", "Informations de connexion", "接続情報", "연결 정보", "连接信息", "連線資訊")
s(936, "Halvanet Client", "Client Halvanet", "Halvanet クライアント", "Halvanet 클라이언트", "Halvanet 客户端", "Halvanet 用戶端")
s(938, "General", "Général", "全般", "일반", "常规", "一般")
s(940, "Event Log", "Journal des événements", "イベント ログ", "이벤트 로그", "事件日志", "事件記錄")
s(941, "About", "À propos", "バージョン情報", "정보", "关于", "關於")
s(947, "Connection Progress", "Progression de la connexion", "接続の進行状況", "연결 진행률", "连接进度", "連線進度")
s(984, "Proxy", "Proxy", "プロキシ", "프록시", "代理", "Proxy")
s(985, "Options", "Options", "オプション", "옵션", "选项", "選項")
s(1149, "Login", "Connexion", "ログイン", "로그인", "登录", "登入")
s(1150, "Logout", "Déconnexion", "ログアウト", "로그아웃", "注销", "登出")
same(1151, "Vek Halvanet")
s(1152, "Webtop", "Webtop", "Webtop", "Webtop", "Webtop", "Webtop")
s(40021, "Error: Invalid URL!", "Erreur : URL non valide !", "エラー: URL が無効です", "오류: 잘못된 URL입니다.", "错误: URL 无效!", "錯誤: URL 無效!")
s(40022, "The Server URL entered is invalid.", "L'URL du serveur saisie n'est pas valide.", "入力されたサーバー URL は無効です。",
  "입력한 서버 URL이 올바르지 않습니다.", "输入的服务器 URL 无效。", "輸入的伺服器 URL 無效。")

def m(n, *t):
    s(n + M, *t)

# Progress states and session states.
m(8, "Disconnected", "Déconnecté", "切断されました", "연결 끊김", "已断开连接", "已中斷連線")
m(9, "Connected", "Connecté", "接続されました", "연결됨", "已连接", "已連線")
m(10, "Starting the application...", "Démarrage de l'application...", "アプリケーションを起動しています...", "응용 프로그램을 시작하는 중...", "正在启动应用程序...", "正在啟動應用程式...")
m(11, "Session suspended.", "Session suspendue.", "セッションは中断されました。", "세션이 일시 중단되었습니다.", "会话已挂起。", "工作階段已暫停。")
m(12, "Session ended.", "Session terminée.", "セッションは終了しました。", "세션이 종료되었습니다.", "会话已结束。", "工作階段已結束。")
m(19, "Session failed.", "Échec de la session.", "セッションに失敗しました。", "세션이 실패했습니다.", "会话失败。", "工作階段失敗。")
m(21, "Requesting application server authentication...", "Demande d'authentification au serveur d'applications...",
  "アプリケーション サーバーの認証を要求しています...", "응용 프로그램 서버 인증을 요청하는 중...", "正在请求应用程序服务器身份验证...", "正在要求應用程式伺服器驗證...")
m(23, "Connecting to Protocol Engine...", "Connexion au moteur de protocole...", "プロトコル エンジンに接続しています...",
  "프로토콜 엔진에 연결하는 중...", "正在连接到协议引擎...", "正在連線到通訊協定引擎...")
m(24, *S[10])
m(26, "Trying again with new information...", "Nouvel essai avec les nouvelles informations...", "新しい情報で再試行しています...",
  "새 정보로 다시 시도하는 중...", "正在使用新信息重试...", "正在使用新資訊重試...")
m(30, "Session failed: %s", "Échec de la session : %s", "セッションに失敗しました: %s", "세션이 실패했습니다: %s", "会话失败: %s", "工作階段失敗: %s")
m(31, "Resuming a suspended session...", "Reprise d'une session suspendue...", "中断されたセッションを再開しています...",
  "일시 중단된 세션을 다시 시작하는 중...", "正在恢复挂起的会话...", "正在繼續已暫停的工作階段...")
m(32, *S[10 + M])
m(62, "Waiting for the server to respond...", "En attente de la réponse du serveur...", "サーバーの応答を待っています...",
  "서버의 응답을 기다리는 중...", "正在等待服务器响应...", "正在等待伺服器回應...")
m(319, "About to start the application...", "L'application va démarrer...", "まもなくアプリケーションを起動します...",
  "곧 응용 프로그램을 시작합니다...", "即将启动应用程序...", "即將啟動應用程式...")
m(320, "Waiting for the Helper to connect...", "En attente de la connexion de l'assistant (Helper)...", "Helper の接続を待っています...",
  "Helper의 연결을 기다리는 중...", "正在等待 Helper 连接...", "正在等待 Helper 連線...")

# Connection errors.
m(54, "Unknown error.", "Erreur inconnue.", "不明なエラーです。", "알 수 없는 오류입니다.", "未知错误。", "未知的錯誤。")
m(78, "Certificate Authority not recognized.", "Autorité de certification non reconnue.", "証明機関を認識できません。",
  "인증 기관을 인식할 수 없습니다.", "无法识别证书颁发机构。", "無法辨識憑證授權單位。")
m(79, "Server Certificate not recognized.", "Certificat du serveur non reconnu.", "サーバー証明書を認識できません。",
  "서버 인증서를 인식할 수 없습니다.", "无法识别服务器证书。", "無法辨識伺服器憑證。")
m(80, "Server Certificate not effective.", "Certificat du serveur pas encore en vigueur.", "サーバー証明書はまだ有効になっていません。",
  "서버 인증서가 아직 유효하지 않습니다.", "服务器证书尚未生效。", "伺服器憑證尚未生效。")
m(81, "Server Certificate has expired.", "Le certificat du serveur a expiré.", "サーバー証明書の有効期限が切れています。",
  "서버 인증서가 만료되었습니다.", "服务器证书已过期。", "伺服器憑證已過期。")
m(83, "Host not found.", "Hôte introuvable.", "ホストが見つかりません。", "호스트를 찾을 수 없습니다.", "找不到主机。", "找不到主機。")
m(84, "Connection refused.", "Connexion refusée.", "接続が拒否されました。", "연결이 거부되었습니다.", "连接被拒绝。", "連線遭到拒絕。")
m(86, "Connection timed out.", "Délai de connexion dépassé.", "接続がタイムアウトしました。", "연결 시간이 초과되었습니다.", "连接超时。", "連線逾時。")
m(142, "Dial-up authentication failed", "Échec de l'authentification de la connexion d'accès à distance", "ダイヤルアップ認証に失敗しました",
  "전화 접속 인증에 실패했습니다.", "拨号身份验证失败", "撥號驗證失敗")
m(143, "Dial-up connection could not be established", "Impossible d'établir la connexion d'accès à distance", "ダイヤルアップ接続を確立できませんでした",
  "전화 접속 연결을 설정할 수 없습니다.", "无法建立拨号连接", "無法建立撥號連線")
m(218, "Proxy server may be down or configuration may be incorrect.",
  "Le serveur proxy est peut-être arrêté ou sa configuration est incorrecte.",
  "プロキシ サーバーが停止しているか、構成が正しくない可能性があります。",
  "프록시 서버가 다운되었거나 구성이 잘못되었을 수 있습니다.",
  "代理服务器可能已关闭或配置不正确。", "Proxy 伺服器可能已關閉，或設定不正確。")
m(219, "Cannot establish tunnel.\nProxy server may be down or configuration may be incorrect.",
  "Impossible d'établir le tunnel.\nLe serveur proxy est peut-être arrêté ou sa configuration est incorrecte.",
  "トンネルを確立できません。\nプロキシ サーバーが停止しているか、構成が正しくない可能性があります。",
  "터널을 설정할 수 없습니다.\n프록시 서버가 다운되었거나 구성이 잘못되었을 수 있습니다.",
  "无法建立隧道。\n代理服务器可能已关闭或配置不正确。", "無法建立通道。\nProxy 伺服器可能已關閉，或設定不正確。")
m(221, "Cannot connect to the proxy server. The following error was returned:\n\n%s\n\nPlease contact a Halvanet Administrator.",
  "Impossible de se connecter au serveur proxy. L'erreur suivante a été renvoyée :\n\n%s\n\nVeuillez contacter un administrateur Halvanet.",
  "プロキシ サーバーに接続できません。次のエラーが返されました:\n\n%s\n\nHalvanet 管理者に連絡してください。",
  "프록시 서버에 연결할 수 없습니다. 다음 오류가 반환되었습니다.\n\n%s\n\nHalvanet 관리자에게 문의하십시오.",
  "无法连接到代理服务器。返回了以下错误:\n\n%s\n\n请与 Halvanet 管理员联系。",
  "無法連線到 Proxy 伺服器。傳回了下列錯誤:\n\n%s\n\n請與 Halvanet 系統管理員聯絡。")
m(223, "Cannot connect to the web server.  The following error was returned:\n\n%s\n\nPlease contact a Halvanet Administrator.",
  "Impossible de se connecter au serveur Web. L'erreur suivante a été renvoyée :\n\n%s\n\nVeuillez contacter un administrateur Halvanet.",
  "Web サーバーに接続できません。次のエラーが返されました:\n\n%s\n\nHalvanet 管理者に連絡してください。",
  "웹 서버에 연결할 수 없습니다. 다음 오류가 반환되었습니다.\n\n%s\n\nHalvanet 관리자에게 문의하십시오.",
  "无法连接到 Web 服务器。返回了以下错误:\n\n%s\n\n请与 Halvanet 管理员联系。",
  "無法連線到 Web 伺服器。傳回了下列錯誤:\n\n%s\n\n請與 Halvanet 系統管理員聯絡。")
m(225, "The proxy server requires an authentication scheme that is not supported.",
  "Le serveur proxy exige un mode d'authentification non pris en charge.",
  "プロキシ サーバーがサポートされていない認証方式を要求しています。",
  "프록시 서버에 지원되지 않는 인증 체계가 필요합니다.",
  "代理服务器要求的身份验证方案不受支持。", "Proxy 伺服器要求的驗證配置不受支援。")
m(229, "The local root certificate authority does not verify the server certificate. Contact a Halvanet Administrator.",
  "L'autorité de certification racine locale ne valide pas le certificat du serveur. Contactez un administrateur Halvanet.",
  "ローカルのルート証明機関ではサーバー証明書を検証できません。Halvanet 管理者に連絡してください。",
  "로컬 루트 인증 기관이 서버 인증서를 확인하지 않습니다. Halvanet 관리자에게 문의하십시오.",
  "本地根证书颁发机构未验证服务器证书。请与 Halvanet 管理员联系。",
  "本機根憑證授權單位無法驗證伺服器憑證。請與 Halvanet 系統管理員聯絡。")
m(244, "A X509 version 3 certificate used for signing in the certificate chain does not contain a basic constraints extension and so is not valid for signing.",
  "Un certificat X509 version 3 utilisé pour la signature dans la chaîne de certificats ne contient pas d'extension de contraintes de base ; il n'est donc pas valide pour la signature.",
  "証明書チェーン内で署名に使用されている X509 バージョン 3 証明書に基本制約拡張がないため、署名には使用できません。",
  "인증서 체인에서 서명에 사용된 X509 버전 3 인증서에 기본 제약 조건 확장이 없으므로 서명에 사용할 수 없습니다.",
  "证书链中用于签名的某个 X509 版本 3 证书不含基本约束扩展，因此不能用于签名。",
  "憑證鏈中用於簽署的某個 X509 第 3 版憑證不含基本限制延伸，因此不能用於簽署。")
m(245, "A X509 version 3 certificate used for signing in the certificate chain does not contain a CA basic constraint and so is not valid for signing. ",
  "Un certificat X509 version 3 utilisé pour la signature dans la chaîne de certificats ne contient pas de contrainte de base CA ; il n'est donc pas valide pour la signature. ",
  "証明書チェーン内で署名に使用されている X509 バージョン 3 証明書に CA の基本制約がないため、署名には使用できません。 ",
  "인증서 체인에서 서명에 사용된 X509 버전 3 인증서에 CA 기본 제약 조건이 없으므로 서명에 사용할 수 없습니다. ",
  "证书链中用于签名的某个 X509 版本 3 证书不含 CA 基本约束，因此不能用于签名。 ",
  "憑證鏈中用於簽署的某個 X509 第 3 版憑證不含 CA 基本限制，因此不能用於簽署。 ")
m(246, "A X509 version 3 certificate used for signing in the certificate chain has more CA certificates chained below it than its path length constraint allows.",
  "Un certificat X509 version 3 utilisé pour la signature dans la chaîne de certificats a davantage de certificats d'autorité enchaînés sous lui que sa contrainte de longueur de chemin ne le permet.",
  "証明書チェーン内で署名に使用されている X509 バージョン 3 証明書の下に、パス長制約で許可されている数を超える CA 証明書が連なっています。",
  "인증서 체인에서 서명에 사용된 X509 버전 3 인증서 아래에 경로 길이 제약 조건에서 허용하는 것보다 많은 CA 인증서가 연결되어 있습니다.",
  "证书链中用于签名的某个 X509 版本 3 证书之下链接的 CA 证书数超过了其路径长度约束所允许的数量。",
  "憑證鏈中用於簽署的某個 X509 第 3 版憑證之下鏈結的 CA 憑證數，超過其路徑長度限制所允許的數量。")
m(247, "A X509 version 2 certificate is included in the certificate chain and these are unsupported. Use version 1 or version 3 certificates only.",
  "La chaîne de certificats contient un certificat X509 version 2, ce qui n'est pas pris en charge. Utilisez uniquement des certificats version 1 ou version 3.",
  "証明書チェーンにサポートされていない X509 バージョン 2 証明書が含まれています。バージョン 1 またはバージョン 3 の証明書のみを使用してください。",
  "인증서 체인에 지원되지 않는 X509 버전 2 인증서가 포함되어 있습니다. 버전 1 또는 버전 3 인증서만 사용하십시오.",
  "证书链中包含不受支持的 X509 版本 2 证书。请仅使用版本 1 或版本 3 的证书。",
  "憑證鏈中包含不受支援的 X509 第 2 版憑證。請只使用第 1 版或第 3 版憑證。")
m(248, "A X509 version 1 certificate is included in the certificate chain as a signing certificate. We only support version 1 CA certificates if they are self-signed root certificates.",
  "La chaîne de certificats contient un certificat X509 version 1 utilisé comme certificat de signature. Les certificats d'autorité version 1 ne sont pris en charge que s'il s'agit de certificats racine auto-signés.",
  "証明書チェーンに署名用証明書として X509 バージョン 1 証明書が含まれています。バージョン 1 の CA 証明書は、自己署名ルート証明書である場合のみサポートされます。",
  "인증서 체인에 서명 인증서로 X509 버전 1 인증서가 포함되어 있습니다. 버전 1 CA 인증서는 자체 서명된 루트 인증서인 경우에만 지원됩니다.",
  "证书链中包含用作签名证书的 X509 版本 1 证书。仅当版本 1 的 CA 证书为自签名根证书时才受支持。",
  "憑證鏈中包含作為簽署憑證的 X509 第 1 版憑證。第 1 版 CA 憑證僅在其為自我簽署的根憑證時才受支援。")

# Results of the application server.
m(111, "The application could not be started.", "Impossible de démarrer l'application.", "アプリケーションを起動できませんでした。",
  "응용 프로그램을 시작할 수 없습니다.", "无法启动应用程序。", "無法啟動應用程式。")
m(112, "Application server not available", "Serveur d'applications non disponible", "アプリケーション サーバーを利用できません",
  "응용 프로그램 서버를 사용할 수 없습니다.", "应用程序服务器不可用", "無法使用應用程式伺服器")
m(113, "Application server: login failed", "Serveur d'applications : échec de l'ouverture de session", "アプリケーション サーバー: ログインに失敗しました",
  "응용 프로그램 서버: 로그인하지 못했습니다.", "应用程序服务器: 登录失败", "應用程式伺服器: 登入失敗")
m(114, "Application server: login incorrect", "Serveur d'applications : identifiants incorrects", "アプリケーション サーバー: ログイン情報が正しくありません",
  "응용 프로그램 서버: 로그인 정보가 올바르지 않습니다.", "应用程序服务器: 登录信息不正确", "應用程式伺服器: 登入資訊不正確")
m(115, "Application server: password has expired", "Serveur d'applications : le mot de passe a expiré", "アプリケーション サーバー: パスワードの有効期限が切れています",
  "응용 프로그램 서버: 암호가 만료되었습니다.", "应用程序服务器: 密码已过期", "應用程式伺服器: 密碼已過期")
m(116, "Command execution failed", "Échec de l'exécution de la commande", "コマンドの実行に失敗しました", "명령을 실행하지 못했습니다.", "命令执行失败", "命令執行失敗")
m(117, "Application server: connection failed", "Serveur d'applications : échec de la connexion", "アプリケーション サーバー: 接続に失敗しました",
  "응용 프로그램 서버: 연결하지 못했습니다.", "应用程序服务器: 连接失败", "應用程式伺服器: 連線失敗")
m(118, "Application server: end of file on connection", "Serveur d'applications : fin de fichier sur la connexion", "アプリケーション サーバー: 接続で EOF を受信しました",
  "응용 프로그램 서버: 연결에서 파일 끝에 도달했습니다.", "应用程序服务器: 连接上遇到文件结尾", "應用程式伺服器: 連線遇到檔案結尾")
m(119, "Application server: server timeout", "Serveur d'applications : délai du serveur dépassé", "アプリケーション サーバー: サーバーがタイムアウトしました",
  "응용 프로그램 서버: 서버 시간이 초과되었습니다.", "应用程序服务器: 服务器超时", "應用程式伺服器: 伺服器逾時")
m(120, "Window manager exists", "Un gestionnaire de fenêtres existe déjà", "ウィンドウ マネージャーが既に存在します", "창 관리자가 이미 있습니다.", "窗口管理器已存在", "視窗管理員已存在")
m(121, "Invalid desktop size", "Taille de bureau non valide", "デスクトップのサイズが無効です", "바탕 화면 크기가 잘못되었습니다.", "桌面大小无效", "桌面大小無效")
m(122, "Application server: no secure connection", "Serveur d'applications : aucune connexion sécurisée", "アプリケーション サーバー: セキュリティで保護された接続がありません",
  "응용 프로그램 서버: 보안 연결이 없습니다.", "应用程序服务器: 无安全连接", "應用程式伺服器: 沒有安全連線")
m(123, "Transport not available", "Transport non disponible", "トランスポートを利用できません", "전송을 사용할 수 없습니다.", "传输不可用", "無法使用傳輸")
m(124, "Session does not exist", "La session n'existe pas", "セッションが存在しません", "세션이 없습니다.", "会话不存在", "工作階段不存在")
m(125, "Session suspended", "Session suspendue", "セッションは中断されています", "세션이 일시 중단되었습니다.", "会话已挂起", "工作階段已暫停")
m(126, "Session not suspended", "Session non suspendue", "セッションは中断されていません", "세션이 일시 중단되지 않았습니다.", "会话未挂起", "工作階段未暫停")
m(127, "Session running", "Session en cours d'exécution", "セッションは実行中です", "세션이 실행 중입니다.", "会话正在运行", "工作階段執行中")
m(128, "Login password not available", "Mot de passe d'ouverture de session non disponible", "ログイン パスワードを利用できません",
  "로그인 암호를 사용할 수 없습니다.", "登录密码不可用", "無法使用登入密碼")
m(129, "Login script not available", "Script d'ouverture de session non disponible", "ログイン スクリプトを利用できません",
  "로그인 스크립트를 사용할 수 없습니다.", "登录脚本不可用", "無法使用登入指令碼")
m(130, "Protocol Engine died", "Le moteur de protocole s'est arrêté", "プロトコル エンジンが停止しました", "프로토콜 엔진이 중지되었습니다.", "协议引擎已终止", "通訊協定引擎已終止")
m(131, "Create interpreter failed", "Échec de la création de l'interpréteur", "インタープリターを作成できませんでした", "인터프리터를 만들지 못했습니다.", "创建解释器失败", "建立解譯器失敗")
m(132, "Eval file failed", "Échec de l'évaluation du fichier", "ファイルの評価に失敗しました", "파일을 평가하지 못했습니다.", "评估文件失败", "評估檔案失敗")
m(133, "Chdir failed", "Échec du changement de répertoire", "ディレクトリを変更できませんでした", "디렉터리를 변경하지 못했습니다.", "更改目录失败", "變更目錄失敗")
m(134, "User abort", "Abandon par l'utilisateur", "ユーザーが中止しました", "사용자가 중단했습니다.", "用户中止", "使用者中止")
m(135, "Client end of file on connection", "Fin de fichier côté client sur la connexion", "クライアント側の接続で EOF を受信しました",
  "클라이언트 연결에서 파일 끝에 도달했습니다.", "客户端连接上遇到文件结尾", "用戶端連線遇到檔案結尾")

# Terminal Services results (145 + code).
m(146, "Failed to open the X display", "Impossible d'ouvrir l'affichage X", "X ディスプレイを開けませんでした", "X 디스플레이를 열지 못했습니다.", "无法打开 X 显示", "無法開啟 X 顯示")
m(147, "Cannot run with a window manager", "Exécution impossible avec un gestionnaire de fenêtres", "ウィンドウ マネージャーと一緒には実行できません",
  "창 관리자와 함께 실행할 수 없습니다.", "无法与窗口管理器一起运行", "無法與視窗管理員一起執行")
m(148, *S[121 + M])
for code in (4, 5, 6, 7, 9, 11, 12, 14, 15, 16, 17):
    m(145 + code, "Terminal Services error %d." % code, "Erreur des services Terminal Server %d." % code,
      "ターミナル サービスのエラー %d です。" % code, "터미널 서비스 오류 %d입니다." % code,
      "终端服务错误 %d。" % code, "終端機服務錯誤 %d。" % code)
m(153, "Failed to connect to host.", "Impossible de se connecter à l'hôte.", "ホストに接続できませんでした。", "호스트에 연결하지 못했습니다.", "无法连接到主机。", "無法連線到主機。")
m(155, "RDP security failure. Terminal Services session disconnected.", "Échec de sécurité RDP. La session des services Terminal Server a été déconnectée.",
  "RDP のセキュリティ エラーです。ターミナル サービスのセッションは切断されました。", "RDP 보안 오류입니다. 터미널 서비스 세션의 연결이 끊어졌습니다.",
  "RDP 安全故障。终端服务会话已断开连接。", "RDP 安全性失敗。終端機服務工作階段已中斷連線。")
m(158, "Connection refused by Terminal Server.", "Connexion refusée par le serveur Terminal Server.", "ターミナル サーバーが接続を拒否しました。",
  "터미널 서버가 연결을 거부했습니다.", "终端服务器拒绝了连接。", "終端機伺服器拒絕了連線。")
m(190, "Unknown Terminal Services error.", "Erreur inconnue des services Terminal Server.", "不明なターミナル サービスのエラーです。",
  "알 수 없는 터미널 서비스 오류입니다.", "未知的终端服务错误。", "未知的終端機服務錯誤。")

# Printing.
m(207, "No client printer available", "Aucune imprimante cliente disponible", "利用できるクライアント プリンターがありません",
  "사용할 수 있는 클라이언트 프린터가 없습니다.", "没有可用的客户端打印机", "沒有可用的用戶端印表機")
m(209, "Failed to connect to HTTPS web server on %s", "Impossible de se connecter au serveur Web HTTPS sur %s", "%s の HTTPS Web サーバーに接続できませんでした",
  "%s의 HTTPS 웹 서버에 연결하지 못했습니다.", "无法连接到 %s 上的 HTTPS Web 服务器", "無法連線到 %s 上的 HTTPS Web 伺服器")
same(253 + M, "QuorvellanPrintComplete")
same(254 + M, "QuorvellanPrintError")
m(256, "Print job failed", "Échec du travail d'impression", "印刷ジョブに失敗しました", "인쇄 작업이 실패했습니다.", "打印作业失败", "列印工作失敗")

# Hop errors and proxy authentication.
m(257, "Cannot connect to the %s", "Impossible de se connecter au %s", "%s に接続できません", "%s에 연결할 수 없습니다.", "无法连接到 %s", "無法連線到 %s")
m(258, "A network error while connected to the %s", "Erreur réseau lors de la connexion au %s", "%s への接続中にネットワーク エラーが発生しました",
  "%s에 연결되어 있는 동안 네트워크 오류가 발생했습니다.", "连接到 %s 时发生网络错误", "連線到 %s 時發生網路錯誤")
m(259, "The %1$s failed to connect to the %2$s", "Le %1$s n'a pas pu se connecter au %2$s", "%1$s から %2$s への接続に失敗しました",
  "%1$s에서 %2$s에 연결하지 못했습니다.", "%1$s 无法连接到 %2$s", "%1$s 無法連線到 %2$s")
m(260, "The %1$s refused to connect to the %2$s", "Le %1$s a refusé de se connecter au %2$s", "%1$s が %2$s への接続を拒否しました",
  "%1$s에서 %2$s에 대한 연결을 거부했습니다.", "%1$s 拒绝连接到 %2$s", "%1$s 拒絕連線到 %2$s")
m(263, "The %s requires an authentication method not supported by this Halvanet Client",
  "Le %s exige une méthode d'authentification non prise en charge par ce client Halvanet",
  "%s は、この Halvanet クライアントでサポートされていない認証方式を要求しています",
  "%s에 이 Halvanet 클라이언트에서 지원하지 않는 인증 방법이 필요합니다.",
  "%s 要求的身份验证方法不受此 Halvanet 客户端支持", "%s 要求的驗證方法不受此 Halvanet 用戶端支援")
m(265, "An error occured while connected to the %s", "Une erreur s'est produite lors de la connexion au %s", "%s への接続中にエラーが発生しました",
  "%s에 연결되어 있는 동안 오류가 발생했습니다.", "连接到 %s 时出错", "連線到 %s 時發生錯誤")
m(266, "The %1$s failed to connect to the %2$s.\n\nThe following response was returned:\n\n%3$s",
  "Le %1$s n'a pas pu se connecter au %2$s.\n\nLa réponse suivante a été renvoyée :\n\n%3$s",
  "%1$s から %2$s への接続に失敗しました。\n\n次の応答が返されました:\n\n%3$s",
  "%1$s에서 %2$s에 연결하지 못했습니다.\n\n다음 응답이 반환되었습니다.\n\n%3$s",
  "%1$s 无法连接到 %2$s。\n\n返回了以下响应:\n\n%3$s", "%1$s 無法連線到 %2$s。\n\n傳回了下列回應:\n\n%3$s")
m(267, "Enter username and password for %s:", "Entrez le nom d'utilisateur et le mot de passe pour %s :", "%s のユーザー名とパスワードを入力してください:",
  "%s의 사용자 이름과 암호를 입력하십시오.", "请输入 %s 的用户名和密码:", "請輸入 %s 的使用者名稱和密碼:")
m(268, "Authentication Required", "Authentification requise", "認証が必要です", "인증 필요", "需要身份验证", "需要驗證")
m(269, "Reauthenticate with %s?", "S'authentifier de nouveau auprès de %s ?", "%s で再認証しますか?", "%s에서 다시 인증하시겠습니까?", "要重新向 %s 进行身份验证吗?", "要重新向 %s 驗證嗎?")
m(270, "The %1$s refused to connect to the %2$s.\n\nThis may be because the authentication details for the %3$s were incorrect.\n\nDo you wish to reauthenticate?",
  "Le %1$s a refusé de se connecter au %2$s.\n\nLes informations d'authentification du %3$s sont peut-être incorrectes.\n\nVoulez-vous vous authentifier de nouveau ?",
  "%1$s が %2$s への接続を拒否しました。\n\n%3$s の認証情報が正しくない可能性があります。\n\n再認証しますか?",
  "%1$s에서 %2$s에 대한 연결을 거부했습니다.\n\n%3$s의 인증 정보가 올바르지 않기 때문일 수 있습니다.\n\n다시 인증하시겠습니까?",
  "%1$s 拒绝连接到 %2$s。\n\n这可能是因为 %3$s 的身份验证信息不正确。\n\n是否要重新进行身份验证?",
  "%1$s 拒絕連線到 %2$s。\n\n可能是因為 %3$s 的驗證資訊不正確。\n\n是否要重新驗證?")
m(272, "This Halvanet Client cannot connect to multiple secure servers", "Ce client Halvanet ne peut pas se connecter à plusieurs serveurs sécurisés",
  "この Halvanet クライアントは複数のセキュア サーバーに接続できません", "이 Halvanet 클라이언트는 여러 보안 서버에 연결할 수 없습니다.",
  "此 Halvanet 客户端无法连接到多个安全服务器", "此 Halvanet 用戶端無法連線到多個安全伺服器")
m(273, "Failed to establish an SSL connection with the %s", "Impossible d'établir une connexion SSL avec le %s", "%s との SSL 接続を確立できませんでした",
  "%s과(와) SSL 연결을 설정하지 못했습니다.", "无法与 %s 建立 SSL 连接", "無法與 %s 建立 SSL 連線")
m(274, "There is a misconfigured proxy in the chain used to connect to the Halvanet server",
  "Un proxy mal configuré se trouve dans la chaîne utilisée pour se connecter au serveur Halvanet",
  "Halvanet サーバーへの接続に使用するチェーンに、構成が正しくないプロキシがあります",
  "Halvanet 서버에 연결하는 데 사용되는 체인에 잘못 구성된 프록시가 있습니다.",
  "用于连接到 Halvanet 服务器的链中有配置错误的代理", "用於連線到 Halvanet 伺服器的鏈結中，有設定錯誤的 Proxy")

# Session layer.
m(304, "Discarding webserver event for Helper %1$s intended to load %2$s in %3$s",
  "Abandon de l'événement du serveur Web pour l'assistant %1$s destiné à charger %2$s dans %3$s",
  "%3$s に %2$s を読み込むための Helper %1$s 宛ての Web サーバー イベントを破棄しています",
  "%3$s에 %2$s을(를) 로드하기 위한 Helper %1$s의 웹 서버 이벤트를 버리는 중",
  "正在丢弃 Helper %1$s 的 Web 服务器事件(用于在 %3$s 中加载 %2$s)",
  "正在捨棄 Helper %1$s 的 Web 伺服器事件 (用於在 %3$s 中載入 %2$s)")
m(305, "Caching webserver event for Helper %1$s intended to load %2$s in %3$s",
  "Mise en cache de l'événement du serveur Web pour l'assistant %1$s destiné à charger %2$s dans %3$s",
  "%3$s に %2$s を読み込むための Helper %1$s 宛ての Web サーバー イベントをキャッシュしています",
  "%3$s에 %2$s을(를) 로드하기 위한 Helper %1$s의 웹 서버 이벤트를 캐시하는 중",
  "正在缓存 Helper %1$s 的 Web 服务器事件(用于在 %3$s 中加载 %2$s)",
  "正在快取 Helper %1$s 的 Web 伺服器事件 (用於在 %3$s 中載入 %2$s)")
m(307, "Cannot connect to the server %1$s:%2$d\n%3$s", "Impossible de se connecter au serveur %1$s:%2$d\n%3$s", "サーバー %1$s:%2$d に接続できません\n%3$s",
  "서버 %1$s:%2$d에 연결할 수 없습니다.\n%3$s", "无法连接到服务器 %1$s:%2$d\n%3$s", "無法連線到伺服器 %1$s:%2$d\n%3$s")
m(309, "Are you sure you want to exit?  All your Halvanet application sessions will be suspended.",
  "Voulez-vous vraiment quitter ? Toutes vos sessions d'applications Halvanet seront suspendues.",
  "終了してもよろしいですか? Halvanet アプリケーションのセッションはすべて中断されます。",
  "종료하시겠습니까? 모든 Halvanet 응용 프로그램 세션이 일시 중단됩니다.",
  "确实要退出吗? 所有 Halvanet 应用程序会话都将挂起。", "確定要結束嗎? 所有 Halvanet 應用程式工作階段都將暫停。")
m(312, "The following SOAP Fault was received from the server:\n\n%s\n\nPlease contact your Halvanet administrator.",
  "L'erreur SOAP suivante a été reçue du serveur :\n\n%s\n\nVeuillez contacter votre administrateur Halvanet.",
  "サーバーから次の SOAP エラーを受信しました:\n\n%s\n\nHalvanet 管理者に連絡してください。",
  "서버에서 다음 SOAP 오류를 받았습니다.\n\n%s\n\nHalvanet 관리자에게 문의하십시오.",
  "从服务器收到以下 SOAP 错误:\n\n%s\n\n请与 Halvanet 管理员联系。", "從伺服器收到下列 SOAP 錯誤:\n\n%s\n\n請與 Halvanet 系統管理員聯絡。")
m(313, "An unidentifiable SOAP Fault was received from the server.  Please contact your Halvanet administrator.",
  "Une erreur SOAP non identifiable a été reçue du serveur. Veuillez contacter votre administrateur Halvanet.",
  "サーバーから識別できない SOAP エラーを受信しました。Halvanet 管理者に連絡してください。",
  "서버에서 알 수 없는 SOAP 오류를 받았습니다. Halvanet 관리자에게 문의하십시오.",
  "从服务器收到无法识别的 SOAP 错误。请与 Halvanet 管理员联系。", "從伺服器收到無法識別的 SOAP 錯誤。請與 Halvanet 系統管理員聯絡。")
m(316, "The original launch has timed out.  Please try again.", "Le délai du lancement d'origine est dépassé. Veuillez réessayer.",
  "元の起動がタイムアウトしました。もう一度やり直してください。", "원래 시작 요청의 시간이 초과되었습니다. 다시 시도하십시오.",
  "原始启动已超时。请重试。", "原始啟動已逾時。請再試一次。")
m(321, "Using certificate authority %s", "Utilisation de l'autorité de certification %s", "証明機関 %s を使用しています", "인증 기관 %s을(를) 사용하는 중", "正在使用证书颁发机构 %s", "正在使用憑證授權單位 %s")
m(322, "Cannot load certificate authority %s", "Impossible de charger l'autorité de certification %s", "証明機関 %s を読み込めません",
  "인증 기관 %s을(를) 로드할 수 없습니다.", "无法加载证书颁发机构 %s", "無法載入憑證授權單位 %s")
m(350, "Failed to create CDE", "Impossible de créer le CDE", "CDE を作成できませんでした", "CDE를 만들지 못했습니다.", "无法创建 CDE", "無法建立 CDE")
m(352, "Halvanet Client started", "Client Halvanet démarré", "Halvanet クライアントが起動しました", "Halvanet 클라이언트가 시작되었습니다.", "Halvanet 客户端已启动", "Halvanet 用戶端已啟動")
m(353, "Connected to %s:%d", "Connecté à %s:%d", "%s:%d に接続しました", "%s:%d에 연결되었습니다.", "已连接到 %s:%d", "已連線到 %s:%d")
m(354, "Could not connect to %s:%d", "Impossible de se connecter à %s:%d", "%s:%d に接続できませんでした", "%s:%d에 연결할 수 없습니다.", "无法连接到 %s:%d", "無法連線到 %s:%d")
m(355, "Halvanet Client stopped", "Client Halvanet arrêté", "Halvanet クライアントが停止しました", "Halvanet 클라이언트가 중지되었습니다.", "Halvanet 客户端已停止", "Halvanet 用戶端已停止")
m(356, "Halvanet Client cannot accept connections", "Le client Halvanet ne peut pas accepter de connexions", "Halvanet クライアントは接続を受け付けられません",
  "Halvanet 클라이언트가 연결을 받을 수 없습니다.", "Halvanet 客户端无法接受连接", "Halvanet 用戶端無法接受連線")
m(357, "Helper %1$s (%2$s) has connected to the Halvanet Client", "L'assistant %1$s (%2$s) s'est connecté au client Halvanet",
  "Helper %1$s (%2$s) が Halvanet クライアントに接続しました", "Helper %1$s(%2$s)이(가) Halvanet 클라이언트에 연결되었습니다.",
  "Helper %1$s (%2$s) 已连接到 Halvanet 客户端", "Helper %1$s (%2$s) 已連線到 Halvanet 用戶端")
m(358, "Helper %s has disconnected from the Halvanet Client", "L'assistant %s s'est déconnecté du client Halvanet",
  "Helper %s が Halvanet クライアントから切断しました", "Helper %s이(가) Halvanet 클라이언트에서 연결을 끊었습니다.",
  "Helper %s 已与 Halvanet 客户端断开连接", "Helper %s 已與 Halvanet 用戶端中斷連線")
m(360, "Unsupported method: %s", "Méthode non prise en charge : %s", "サポートされていないメソッド: %s", "지원되지 않는 메서드: %s", "不支持的方法: %s", "不支援的方法: %s")
m(362, "Halvanet Client lost its SOAP connection to the server", "Le client Halvanet a perdu sa connexion SOAP au serveur",
  "Halvanet クライアントとサーバーの SOAP 接続が失われました", "Halvanet 클라이언트와 서버 간의 SOAP 연결이 끊어졌습니다.",
  "Halvanet 客户端与服务器的 SOAP 连接已断开", "Halvanet 用戶端與伺服器的 SOAP 連線已中斷")
m(363, "Missing parameter %1$s in SOAP request (%2$s)", "Paramètre %1$s manquant dans la requête SOAP (%2$s)", "SOAP 要求 (%2$s) にパラメーター %1$s がありません",
  "SOAP 요청(%2$s)에 매개 변수 %1$s이(가) 없습니다.", "SOAP 请求 (%2$s) 中缺少参数 %1$s", "SOAP 要求 (%2$s) 中缺少參數 %1$s")
m(364, "Loading %1$s into frame %2$s of Helper %3$s", "Chargement de %1$s dans le cadre %2$s de l'assistant %3$s",
  "Helper %3$s のフレーム %2$s に %1$s を読み込んでいます", "Helper %3$s의 프레임 %2$s에 %1$s을(를) 로드하는 중",
  "正在将 %1$s 加载到 Helper %3$s 的框架 %2$s 中", "正在將 %1$s 載入 Helper %3$s 的框架 %2$s")
m(365, "No Helper for ID %s", "Aucun assistant pour l'ID %s", "ID %s の Helper がありません", "ID %s에 대한 Helper가 없습니다.", "没有 ID 为 %s 的 Helper", "沒有識別碼為 %s 的 Helper")
m(367, "Changing security level to %1$s and connection to %2$s:%3$d", "Passage au niveau de sécurité %1$s et à la connexion %2$s:%3$d",
  "セキュリティ レベルを %1$s に、接続先を %2$s:%3$d に変更しています", "보안 수준을 %1$s(으)로, 연결을 %2$s:%3$d(으)로 변경하는 중",
  "正在将安全级别更改为 %1$s，将连接更改为 %2$s:%3$d", "正在將安全性層級變更為 %1$s，並將連線變更為 %2$s:%3$d")
m(368, "Started Client Device Managment", "Gestion des périphériques clients démarrée", "クライアント デバイス管理を開始しました",
  "클라이언트 장치 관리를 시작했습니다.", "已启动客户端设备管理", "已啟動用戶端裝置管理")
m(369, "Could not start Client Device Managment", "Impossible de démarrer la gestion des périphériques clients", "クライアント デバイス管理を開始できませんでした",
  "클라이언트 장치 관리를 시작할 수 없습니다.", "无法启动客户端设备管理", "無法啟動用戶端裝置管理")
m(370, "Local launch of %s succeeded", "Le lancement local de %s a réussi", "%s のローカル起動に成功しました", "%s을(를) 로컬에서 시작했습니다.", "%s 的本地启动成功", "%s 的本機啟動成功")
m(371, "Local launch of %s failed", "Échec du lancement local de %s", "%s のローカル起動に失敗しました", "%s을(를) 로컬에서 시작하지 못했습니다.", "%s 的本地启动失败", "%s 的本機啟動失敗")
m(375, "Requesting aged-password handler for application server %s", "Demande du gestionnaire de mot de passe expiré pour le serveur d'applications %s",
  "アプリケーション サーバー %s の期限切れパスワード ハンドラーを要求しています", "응용 프로그램 서버 %s에 대한 만료된 암호 처리기를 요청하는 중",
  "正在为应用程序服务器 %s 请求过期密码处理程序", "正在為應用程式伺服器 %s 要求過期密碼處理常式")
m(377, "Cannot cancel launch %s", "Impossible d'annuler le lancement %s", "起動 %s をキャンセルできません", "시작 요청 %s을(를) 취소할 수 없습니다.", "无法取消启动 %s", "無法取消啟動 %s")
m(378, "Received print job %s", "Travail d'impression %s reçu", "印刷ジョブ %s を受信しました", "인쇄 작업 %s을(를) 받았습니다.", "已收到打印作业 %s", "已收到列印工作 %s")
m(382, "Started printing services", "Services d'impression démarrés", "印刷サービスを開始しました", "인쇄 서비스를 시작했습니다.", "已启动打印服务", "已啟動列印服務")
m(383, "Could not start printing services", "Impossible de démarrer les services d'impression", "印刷サービスを開始できませんでした",
  "인쇄 서비스를 시작할 수 없습니다.", "无法启动打印服务", "無法啟動列印服務")
m(384, "Cannot start launch", "Impossible de démarrer le lancement", "起動を開始できません", "시작할 수 없습니다.", "无法开始启动", "無法開始啟動")
m(385, "Resuming original launch after aged-password terminal session completed",
  "Reprise du lancement d'origine après la fin de la session terminal de mot de passe expiré",
  "期限切れパスワードのターミナル セッションが完了したため、元の起動を再開しています",
  "만료된 암호 터미널 세션이 완료되어 원래 시작 요청을 다시 진행하는 중",
  "过期密码终端会话已完成，正在恢复原始启动", "過期密碼終端機工作階段已完成，正在繼續原始啟動")
m(386, "Launch %1$s switching state from %2$s to %3$s", "Le lancement %1$s passe de l'état %2$s à l'état %3$s",
  "起動 %1$s の状態を %2$s から %3$s に切り替えています", "시작 요청 %1$s의 상태를 %2$s에서 %3$s(으)로 전환하는 중",
  "启动 %1$s 的状态正从 %2$s 切换为 %3$s", "啟動 %1$s 的狀態正從 %2$s 切換為 %3$s")
m(387, "Setting parent window of embedded app %s and displaying", "Définition de la fenêtre parente de l'application incorporée %s et affichage",
  "埋め込みアプリケーション %s の親ウィンドウを設定して表示しています", "포함된 응용 프로그램 %s의 부모 창을 설정하고 표시하는 중",
  "正在设置嵌入式应用程序 %s 的父窗口并显示", "正在設定內嵌應用程式 %s 的父視窗並顯示")
m(388, "SSL handshake with %s:%d failed", "Échec de la négociation SSL avec %s:%d", "%s:%d との SSL ハンドシェイクに失敗しました",
  "%s:%d과(와)의 SSL 핸드셰이크가 실패했습니다.", "与 %s:%d 的 SSL 握手失败", "與 %s:%d 的 SSL 交握失敗")
m(389, "Cannot open listening-port file %s", "Impossible d'ouvrir le fichier de port d'écoute %s", "待ち受けポート ファイル %s を開けません",
  "수신 포트 파일 %s을(를) 열 수 없습니다.", "无法打开侦听端口文件 %s", "無法開啟接聽連接埠檔案 %s")
same(390 + M, "%s = %d")
same(391 + M, "%s = %s")
same(394 + M, "%s %s")
m(399, "Cannot read packet of length %d bytes", "Impossible de lire un paquet de %d octets", "長さ %d バイトのパケットを読み取れません",
  "길이가 %d바이트인 패킷을 읽을 수 없습니다.", "无法读取长度为 %d 字节的数据包", "無法讀取長度為 %d 位元組的封包")
m(405, "Replacing old Connection Cookie %1$s with %2$s", "Remplacement de l'ancien cookie de connexion %1$s par %2$s",
  "古い接続 Cookie %1$s を %2$s に置き換えています", "이전 연결 쿠키 %1$s을(를) %2$s(으)로 바꾸는 중",
  "正在将旧的连接 Cookie %1$s 替换为 %2$s", "正在將舊的連線 Cookie %1$s 取代為 %2$s")
m(406, "Showing %s in new client browser.", "Affichage de %s dans un nouveau navigateur client.", "新しいクライアント ブラウザーに %s を表示しています。",
  "새 클라이언트 브라우저에 %s을(를) 표시하는 중입니다.", "正在新的客户端浏览器中显示 %s。", "正在新的用戶端瀏覽器中顯示 %s。")
m(407, "Failed to show %s in new client browser.", "Impossible d'afficher %s dans un nouveau navigateur client.", "新しいクライアント ブラウザーに %s を表示できませんでした。",
  "새 클라이언트 브라우저에 %s을(를) 표시하지 못했습니다.", "无法在新的客户端浏览器中显示 %s。", "無法在新的用戶端瀏覽器中顯示 %s。")
m(416, "Unconnected", "Non connecté", "未接続", "연결 안 됨", "未连接", "未連線")
m(442, *S[9 + M])
m(448, "No listening-port file specified", "Aucun fichier de port d'écoute spécifié", "待ち受けポート ファイルが指定されていません",
  "수신 포트 파일을 지정하지 않았습니다.", "未指定侦听端口文件", "未指定接聽連接埠檔案")
m(449, "No server URL specified so cannot launch browser.", "Aucune URL de serveur spécifiée : impossible de lancer le navigateur.",
  "サーバー URL が指定されていないため、ブラウザーを起動できません。", "서버 URL을 지정하지 않아 브라우저를 시작할 수 없습니다.",
  "未指定服务器 URL，因此无法启动浏览器。", "未指定伺服器 URL，因此無法啟動瀏覽器。")
m(451, "Cannot launch manual aged-password handler.  No launch object for Helper",
  "Impossible de lancer le gestionnaire manuel de mot de passe expiré. Aucun objet de lancement pour l'assistant",
  "手動の期限切れパスワード ハンドラーを起動できません。Helper の起動オブジェクトがありません",
  "수동 만료 암호 처리기를 시작할 수 없습니다. Helper에 대한 시작 개체가 없습니다.",
  "无法启动手动过期密码处理程序。没有用于 Helper 的启动对象", "無法啟動手動過期密碼處理常式。沒有用於 Helper 的啟動物件")
m(452, "Application launch %1$s failed: %2$s", "Échec du lancement de l'application %1$s : %2$s", "アプリケーションの起動 %1$s に失敗しました: %2$s",
  "응용 프로그램 시작 %1$s이(가) 실패했습니다: %2$s", "应用程序启动 %1$s 失败: %2$s", "應用程式啟動 %1$s 失敗: %2$s")
m(455, "Error", "Erreur", "エラー", "오류", "错误", "錯誤")
m(456, "Information", "Information", "情報", "정보", "信息", "資訊")
m(457, "Question", "Question", "確認", "질문", "问题", "問題")
m(458, "Cannot accept connections from Helpers", "Impossible d'accepter les connexions des assistants", "Helper からの接続を受け付けられません",
  "Helper의 연결을 받을 수 없습니다.", "无法接受来自 Helper 的连接", "無法接受來自 Helper 的連線")
m(459, "SOAP Fault", "Erreur SOAP", "SOAP エラー", "SOAP 오류", "SOAP 错误", "SOAP 錯誤")
m(463, "Connection to server is %1$s.  Number of in-place connections is %2$d. Number of out-of-place apps is %3$d.",
  "La connexion au serveur est %1$s. Nombre de connexions intégrées : %2$d. Nombre d'applications externes : %3$d.",
  "サーバーへの接続は %1$s です。インプレース接続数は %2$d、アウトオブプレース アプリケーション数は %3$d です。",
  "서버 연결 상태는 %1$s입니다. 내부 연결 수는 %2$d개이고 외부 응용 프로그램 수는 %3$d개입니다.",
  "与服务器的连接为 %1$s。就地连接数为 %2$d。独立窗口应用程序数为 %3$d。",
  "與伺服器的連線為 %1$s。就地連線數為 %2$d。獨立視窗應用程式數為 %3$d。")
m(469, "The base route %s is invalid", "La route de base %s n'est pas valide", "基本ルート %s は無効です", "기본 경로 %s이(가) 올바르지 않습니다.", "基本路由 %s 无效", "基本路由 %s 無效")
for n, verb, dirn in ((470, "Sending", "to"), (471, "Received", "from"), (472, "Sending", "to"), (473, "Received", "from"), (475, "Received", "from")):
    kind = {470: "request", 471: "request", 472: "response", 473: "response", 475: "fault"}[n]
    fr_kind = {"request": "requête", "response": "réponse", "fault": "erreur"}[kind]
    ja_kind = {"request": "要求", "response": "応答", "fault": "エラー"}[kind]
    ko_kind = {"request": "요청", "response": "응답", "fault": "오류"}[kind]
    zs_kind = {"request": "请求", "response": "响应", "fault": "错误"}[kind]
    zt_kind = {"request": "要求", "response": "回應", "fault": "錯誤"}[kind]
    send = verb == "Sending"
    m(n, "%s SOAP AIP/V %s (%%1$s) with Message ID %%2$s %s %%3$s" % (verb, kind, dirn),
      ("Envoi de la %s SOAP AIP/V (%%1$s) avec l'ID de message %%2$s à %%3$s" if send else
       "%s SOAP AIP/V reçue (%%1$s) avec l'ID de message %%2$s de %%3$s") % (fr_kind if send else fr_kind.capitalize()),
      ("SOAP AIP/V %s (%%1$s、メッセージ ID %%2$s) を %%3$s に送信しています" if send else
       "SOAP AIP/V %s (%%1$s、メッセージ ID %%2$s) を %%3$s から受信しました") % ja_kind,
      ("%%3$s(으)로 SOAP AIP/V %s(%%1$s, 메시지 ID %%2$s)을(를) 보내는 중" if send else
       "%%3$s에서 SOAP AIP/V %s(%%1$s, 메시지 ID %%2$s)을(를) 받았습니다.") % ko_kind,
      ("正在向 %%3$s 发送 SOAP AIP/V %s (%%1$s)，消息 ID 为 %%2$s" if send else
       "已从 %%3$s 收到 SOAP AIP/V %s (%%1$s)，消息 ID 为 %%2$s") % zs_kind,
      ("正在向 %%3$s 傳送 SOAP AIP/V %s (%%1$s)，訊息識別碼為 %%2$s" if send else
       "已從 %%3$s 收到 SOAP AIP/V %s (%%1$s)，訊息識別碼為 %%2$s") % zt_kind)
m(484, "Could not create the audio channel", "Impossible de créer le canal audio", "オーディオ チャネルを作成できませんでした",
  "오디오 채널을 만들지 못했습니다.", "无法创建音频通道", "無法建立音訊通道")
m(485, "Options", "Options", "オプション", "옵션", "选项", "選項")
m(486, "Could not start audio redirection", "Impossible de démarrer la redirection audio", "オーディオのリダイレクトを開始できませんでした",
  "오디오 리디렉션을 시작할 수 없습니다.", "无法启动音频重定向", "無法啟動音訊重新導向")
m(487, "Could not create the device channel", "Impossible de créer le canal des périphériques", "デバイス チャネルを作成できませんでした",
  "장치 채널을 만들지 못했습니다.", "无法创建设备通道", "無法建立裝置通道")
m(488, "Started device redirection", "Redirection des périphériques démarrée", "デバイスのリダイレクトを開始しました",
  "장치 리디렉션을 시작했습니다.", "已启动设备重定向", "已啟動裝置重新導向")
m(489, "Could not start device redirection", "Impossible de démarrer la redirection des périphériques", "デバイスのリダイレクトを開始できませんでした",
  "장치 리디렉션을 시작할 수 없습니다.", "无法启动设备重定向", "無法啟動裝置重新導向")

# Certificate problems.
m(490, "The certificate hostname is incorrect.", "Le nom d'hôte du certificat est incorrect.", "証明書のホスト名が正しくありません。",
  "인증서의 호스트 이름이 올바르지 않습니다.", "证书的主机名不正确。", "憑證的主機名稱不正確。")
m(491, "The certificate is not yet valid.", "Le certificat n'est pas encore valide.", "証明書はまだ有効になっていません。",
  "인증서가 아직 유효하지 않습니다.", "证书尚未生效。", "憑證尚未生效。")
m(492, "The certificate has expired.", "Le certificat a expiré.", "証明書の有効期限が切れています。", "인증서가 만료되었습니다.", "证书已过期。", "憑證已過期。")
m(493, "The issuer of the certificate is unknown.", "L'émetteur du certificat est inconnu.", "証明書の発行者が不明です。",
  "인증서 발급자를 알 수 없습니다.", "证书的颁发者未知。", "憑證的簽發者不明。")
m(495, "You have reached the maximum number of instances allowed for this application. Please go to your webtop to resume/kill existing instances.",
  "Vous avez atteint le nombre maximal d'instances autorisées pour cette application. Accédez à votre webtop pour reprendre ou arrêter les instances existantes.",
  "このアプリケーションで許可されているインスタンスの最大数に達しました。Webtop で既存のインスタンスを再開または終了してください。",
  "이 응용 프로그램에 허용된 최대 인스턴스 수에 도달했습니다. Webtop에서 기존 인스턴스를 다시 시작하거나 종료하십시오.",
  "已达到此应用程序允许的最大实例数。请转到 Webtop 恢复或终止现有实例。",
  "已達到此應用程式允許的最大執行個體數。請前往 Webtop 繼續或終止現有的執行個體。")

# Connection information.
m(700, "Halvanet server", "Serveur Halvanet", "Halvanet サーバー", "Halvanet 서버", "Halvanet 服务器", "Halvanet 伺服器")
m(701, "Connection type", "Type de connexion", "接続の種類", "연결 유형", "连接类型", "連線類型")
m(702, "Client HTTP Proxy", "Proxy HTTP du client", "クライアントの HTTP プロキシ", "클라이언트 HTTP 프록시", "客户端 HTTP 代理", "用戶端 HTTP Proxy")
m(703, "Client SOCKS Proxy", "Proxy SOCKS du client", "クライアントの SOCKS プロキシ", "클라이언트 SOCKS 프록시", "客户端 SOCKS 代理", "用戶端 SOCKS Proxy")
same(704 + M, "%s:%d")
m(705, "Server-defined Proxy #%d", "Proxy n°%d défini par le serveur", "サーバー定義のプロキシ #%d", "서버 정의 프록시 #%d", "服务器定义的代理 #%d", "伺服器定義的 Proxy #%d")
m(706, "User name", "Nom d'utilisateur", "ユーザー名", "사용자 이름", "用户名", "使用者名稱")
m(707, "Display name", "Nom d'affichage", "表示名", "표시 이름", "显示名称", "顯示名稱")
m(708, "Log file", "Fichier journal", "ログ ファイル", "로그 파일", "日志文件", "記錄檔")
m(709, "DRX code", "Code DRX", "DRX コード", "DRX 코드", "DRX 代码", "DRX 代碼")
m(710, "Halvanet version", "Version de Halvanet", "Halvanet のバージョン", "Halvanet 버전", "Halvanet 版本", "Halvanet 版本")
m(711, "Display", "Affichage", "ディスプレイ", "디스플레이", "显示器", "顯示器")
m(712, "Virtual Display", "Affichage virtuel", "仮想ディスプレイ", "가상 디스플레이", "虚拟显示器", "虛擬顯示器")
m(713, "Operating system", "Système d'exploitation", "オペレーティング システム", "운영 체제", "操作系统", "作業系統")
m(714, "Local X server", "Serveur X local", "ローカル X サーバー", "로컬 X 서버", "本地 X 服务器", "本機 X 伺服器")
m(715, "Maximum size for out-of-place applications", "Taille maximale des applications externes", "アウトオブプレース アプリケーションの最大サイズ",
  "외부 응용 프로그램의 최대 크기", "独立窗口应用程序的最大大小", "獨立視窗應用程式的大小上限")
m(716, "Drives of unknown type", "Lecteurs de type inconnu", "種類が不明なドライブ", "알 수 없는 유형의 드라이브", "未知类型的驱动器", "未知類型的磁碟機")
m(717, "Fixed drives", "Disques fixes", "固定ドライブ", "고정 드라이브", "固定驱动器", "固定磁碟機")
m(718, "Floppy drives", "Lecteurs de disquettes", "フロッピー ドライブ", "플로피 드라이브", "软盘驱动器", "軟碟機")
m(719, "CD/DVD-ROM drives", "Lecteurs de CD/DVD-ROM", "CD/DVD-ROM ドライブ", "CD/DVD-ROM 드라이브", "CD/DVD-ROM 驱动器", "CD/DVD-ROM 光碟機")
m(720, "Network drives", "Lecteurs réseau", "ネットワーク ドライブ", "네트워크 드라이브", "网络驱动器", "網路磁碟機")
m(721, "Printer #%d", "Imprimante n°%d", "プリンター #%d", "프린터 #%d", "打印机 #%d", "印表機 #%d")
m(722, "Default Printer", "Imprimante par défaut", "既定のプリンター", "기본 프린터", "默认打印机", "預設印表機")
m(723, "Smartcard reader", "Lecteur de carte à puce", "スマート カード リーダー", "스마트 카드 판독기", "智能卡读卡器", "智慧卡讀卡機")
m(724, "Serial port", "Port série", "シリアル ポート", "직렬 포트", "串行端口", "序列埠")
m(725, "Firewall-traversal mode", "Mode de traversée du pare-feu", "ファイアウォール通過モード", "방화벽 통과 모드", "防火墙穿越模式", "防火牆周游模式")
m(727, "Standard", "Standard", "標準", "표준", "标准", "標準")
m(728, "Secure", "Sécurisée", "セキュア", "보안", "安全", "安全")
m(729, "On", "Activé", "オン", "켜기", "开", "開啟")
m(730, "Off", "Désactivé", "オフ", "끄기", "关", "關閉")
m(731, "No", "Non", "いいえ", "아니요", "否", "否")
same(732 + M, "%d x %d")
m(733, "%d x %d @ %d-bit color depth", "%d x %d, couleurs %d bits", "%d x %d、%d ビット カラー", "%d x %d, %d비트 색 농도", "%d x %d，%d 位色深", "%d x %d，%d 位元色彩深度")
m(734, *S[416 + M])
m(735, " on %s", " sur %s", " (%s 上)", " (%s에 있음)", " 位于 %s", " 位於 %s")
m(736, " with driver %s", " avec le pilote %s", " (ドライバー %s)", " (드라이버 %s)", "，驱动程序 %s", "，驅動程式 %s")
m(941, *S[941])
m(947, *S[947])
s(644, "No network connections are available. The Halvanet Client can not start.",
  "Aucune connexion réseau n'est disponible. Le client Halvanet ne peut pas démarrer.",
  "利用できるネットワーク接続がありません。Halvanet クライアントを起動できません。",
  "사용할 수 있는 네트워크 연결이 없습니다. Halvanet 클라이언트를 시작할 수 없습니다.",
  "没有可用的网络连接。Halvanet 客户端无法启动。", "沒有可用的網路連線。Halvanet 用戶端無法啟動。")

# Certificate information labels.
s(11, "Subject", "Objet", "サブジェクト", "주체", "使用者", "主體")
s(12, "Issuer", "Émetteur", "発行者", "발급자", "颁发者", "簽發者")
s(13, "Effective date", "Date d'entrée en vigueur", "有効期間の開始", "유효 기간 시작", "生效日期", "生效日期")
s(14, "Expiration date", "Date d'expiration", "有効期限", "만료 날짜", "过期日期", "到期日")
s(15, "MD5 fingerprint", "Empreinte MD5", "MD5 拇印", "MD5 지문", "MD5 指纹", "MD5 指紋")
s(16, "SHA1 fingerprint", "Empreinte SHA1", "SHA1 拇印", "SHA1 지문", "SHA1 指纹", "SHA1 指紋")

# Launch kinds and session messages.
m(300, "Browser Window", "Fenêtre du navigateur", "ブラウザー ウィンドウ", "브라우저 창", "浏览器窗口", "瀏覽器視窗")
m(301, "Independent Window", "Fenêtre indépendante", "独立したウィンドウ", "독립 창", "独立窗口", "獨立視窗")
m(302, "CWM Window", "Fenêtre CWM", "CWM ウィンドウ", "CWM 창", "CWM 窗口", "CWM 視窗")
m(303, "Local X Window", "Fenêtre X locale", "ローカル X ウィンドウ", "로컬 X 창", "本地 X 窗口", "本機 X 視窗")
m(311, "Full screen", "Plein écran", "全画面表示", "전체 화면", "全屏", "全螢幕")
m(317, "The connection to the server has been lost.  Do you wish to reconnect?",
  "La connexion au serveur a été perdue. Voulez-vous vous reconnecter ?",
  "サーバーへの接続が失われました。再接続しますか?", "서버 연결이 끊어졌습니다. 다시 연결하시겠습니까?",
  "与服务器的连接已断开。是否要重新连接?", "與伺服器的連線已中斷。是否要重新連線?")
m(318, "Local Microsoft Windows application", "Application Microsoft Windows locale",
  "ローカルの Microsoft Windows アプリケーション", "로컬 Microsoft Windows 응용 프로그램",
  "本地 Microsoft Windows 应用程序", "本機 Microsoft Windows 應用程式")
m(376, "Launch %s cancelled", "Lancement %s annulé", "起動 %s はキャンセルされました", "시작 요청 %s이(가) 취소되었습니다.",
  "启动 %s 已取消", "啟動 %s 已取消")
m(453, "Application launch %s failed for an unknown reason",
  "Le lancement de l'application %s a échoué pour une raison inconnue",
  "アプリケーションの起動 %s は不明な理由で失敗しました", "알 수 없는 이유로 응용 프로그램 시작 %s이(가) 실패했습니다.",
  "应用程序启动 %s 因未知原因失败", "應用程式啟動 %s 因不明原因失敗")
m(468, "Using base route %s", "Utilisation de la route de base %s", "基本ルート %s を使用しています",
  "기본 경로 %s을(를) 사용하는 중", "正在使用基本路由 %s", "正在使用基本路由 %s")

# Tray menu.
m(413, "&File", "&Fichier", "ファイル(&F)", "파일(&F)", "文件(&F)", "檔案(&F)")
m(415, "&Event Log...", "&Journal des événements...", "イベント ログ(&E)...", "이벤트 로그(&E)...", "事件日志(&E)...", "事件記錄(&E)...")
m(417, "Connection &Info...", "&Informations de connexion...", "接続情報(&I)...", "연결 정보(&I)...", "连接信息(&I)...", "連線資訊(&I)...")
m(423, "E&xit", "&Quitter", "終了(&X)", "끝내기(&X)", "退出(&X)", "結束(&X)")
m(424, "&Help", "&Aide", "ヘルプ(&H)", "도움말(&H)", "帮助(&H)", "說明(&H)")
m(425, "&About", "À &propos", "バージョン情報(&A)", "정보(&A)", "关于(&A)", "關於(&A)")
m(426, "&Options...", "&Options...", "オプション(&O)...", "옵션(&O)...", "选项(&O)...", "選項(&O)...")
