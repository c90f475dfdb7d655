# Dialog and menu texts in six languages (en, fr, ja, ko, zh-Hans, zh-Hant)
# and the language-independent layouts that use them. Layout widths leave
# room for the longest (French) texts.
T = {}

def t(k, *v):
    T[k] = v

t("ok", "OK", "OK", "OK", "확인", "确定", "確定")
t("cancel", "Cancel", "Annuler", "キャンセル", "취소", "取消", "取消")
# About
t("about.title", "About Halvanet", "À propos de Halvanet", "Halvanet のバージョン情報", "Halvanet 정보", "关于 Halvanet", "關於 Halvanet")
t("about.notice",
  "Copyright (C) Vek. All rights reserved. This program is protected by copyright law and international treaties.",
  "Copyright (C) Vek. Tous droits réservés. Ce programme est protégé par les lois sur le droit d'auteur et les traités internationaux.",
  "Copyright (C) Vek. All rights reserved. このプログラムは、著作権法および国際条約により保護されています。",
  "Copyright (C) Vek. All rights reserved. 이 프로그램은 저작권법 및 국제 조약의 보호를 받습니다.",
  "Copyright (C) Vek. 保留所有权利。本程序受版权法和国际条约保护。",
  "Copyright (C) Vek. 著作權所有，並保留一切權利。本程式受著作權法及國際條約保護。")
# Password cache
t("pc.title", "Halvanet Client Password Cache", "Cache de mots de passe du client Halvanet", "Halvanet クライアント パスワード キャッシュ",
  "Halvanet 클라이언트 암호 캐시", "Halvanet 客户端密码缓存", "Halvanet 用戶端密碼快取")
t("pc.location", "&Location:", "&Emplacement :", "場所(&L):", "위치(&L):", "位置(&L):", "位置(&L):")
t("pc.user", "&User name:", "Nom d'&utilisateur :", "ユーザー名(&U):", "사용자 이름(&U):", "用户名(&U):", "使用者名稱(&U):")
t("pc.password", "&Password:", "Mot de &passe :", "パスワード(&P):", "암호(&P):", "密码(&P):", "密碼(&P):")
t("pc.confirm", "&Confirm password:", "&Confirmer le mot de passe :", "パスワードの確認(&C):", "암호 확인(&C):", "确认密码(&C):", "確認密碼(&C):")
# Authentication
t("auth.title", "Authentication", "Authentification", "認証", "인증", "身份验证", "驗證")
t("auth.method", "Sign-in method", "Méthode de connexion", "サインイン方法", "로그인 방법", "登录方式", "登入方式")
t("auth.usepw", "Use &password", "Utiliser un mot de &passe", "パスワードを使用(&P)", "암호 사용(&P)", "使用密码(&P)", "使用密碼(&P)")
t("auth.usesc", "Use smart &card", "Utiliser une &carte à puce", "スマート カードを使用(&C)", "스마트 카드 사용(&C)", "使用智能卡(&C)", "使用智慧卡(&C)")
t("auth.scgroup", "Smart card", "Carte à puce", "スマート カード", "스마트 카드", "智能卡", "智慧卡")
t("auth.always", "&Always use smart card", "&Toujours utiliser la carte à puce", "常にスマート カードを使用(&A)", "항상 스마트 카드 사용(&A)", "始终使用智能卡(&A)", "一律使用智慧卡(&A)")
t("auth.user", "&Username:", "Nom d'&utilisateur :", "ユーザー名(&U):", "사용자 이름(&U):", "用户名(&U):", "使用者名稱(&U):")
t("auth.password", "Pass&word:", "&Mot de passe :", "パスワード(&W):", "암호(&W):", "密码(&W):", "密碼(&W):")
t("auth.domain", "NT &Domain:", "&Domaine NT :", "NT ドメイン(&D):", "NT 도메인(&D):", "NT 域(&D):", "NT 網域(&D):")
t("auth.save", "&Save password", "&Enregistrer le mot de passe", "パスワードを保存(&S)", "암호 저장(&S)", "保存密码(&S)", "儲存密碼(&S)")
# Server authentication
t("sa.title", "Server Authentication", "Authentification du serveur", "サーバー認証", "서버 인증", "服务器身份验证", "伺服器驗證")
t("sa.save", "&Save these details", "&Enregistrer ces informations", "この情報を保存(&S)", "이 정보 저장(&S)", "保存这些信息(&S)", "儲存這些資訊(&S)")
# Change password
t("cp.title", "Change Your Password", "Modifier votre mot de passe", "パスワードの変更", "암호 변경", "更改密码", "變更密碼")
t("cp.old", "&Old password:", "&Ancien mot de passe :", "現在のパスワード(&O):", "이전 암호(&O):", "旧密码(&O):", "舊密碼(&O):")
t("cp.new", "&New password:", "&Nouveau mot de passe :", "新しいパスワード(&N):", "새 암호(&N):", "新密码(&N):", "新密碼(&N):")
t("cp.confirm", "&Confirm new password:", "&Confirmer le nouveau :", "新しいパスワードの確認(&C):", "새 암호 확인(&C):", "确认新密码(&C):", "確認新密碼(&C):")
t("cp.domain", "NT &Domain", "&Domaine NT", "NT ドメイン(&D)", "NT 도메인(&D)", "NT 域(&D)", "NT 網域(&D)")
t("cp.save", "&Save this password", "&Enregistrer ce mot de passe", "このパスワードを保存(&S)", "이 암호 저장(&S)", "保存此密码(&S)", "儲存此密碼(&S)")
# Certificate warnings
t("view", "&View Certificate...", "A&fficher le certificat...", "証明書の表示(&V)...", "인증서 보기(&V)...", "查看证书(&V)...", "檢視憑證(&V)...")
t("accept", "&Accept", "&Accepter", "承諾(&A)", "수락(&A)", "接受(&A)", "接受(&A)")
t("reject", "&Reject", "&Refuser", "拒否(&R)", "거부(&R)", "拒绝(&R)", "拒絕(&R)")
t("yes", "&Yes", "&Oui", "はい(&Y)", "예(&Y)", "是(&Y)", "是(&Y)")
t("no", "&No", "&Non", "いいえ(&N)", "아니요(&N)", "否(&N)", "否(&N)")
t("cc.title", "Potentially Unsafe Connection", "Connexion potentiellement dangereuse", "安全でない可能性のある接続", "안전하지 않을 수 있는 연결", "可能不安全的连接", "可能不安全的連線")
t("cc.heading", "WARNING - POTENTIALLY UNSAFE CONNECTION", "AVERTISSEMENT - CONNEXION POTENTIELLEMENT DANGEREUSE",
  "警告 - 安全でない可能性のある接続", "경고 - 안전하지 않을 수 있는 연결", "警告 - 可能不安全的连接", "警告 - 可能不安全的連線")
t("cc.text", "While trying to connect to the server %s the %s has found the server certificate has changed.",
  "Lors de la tentative de connexion au serveur %s, le %s a constaté que le certificat du serveur a changé.",
  "サーバー %s への接続中に、%s はサーバー証明書が変更されていることを検出しました。",
  "서버 %s에 연결하는 동안 %s에서 서버 인증서가 변경된 것을 발견했습니다.",
  "尝试连接到服务器 %s 时，%s 发现服务器证书已更改。",
  "嘗試連線到伺服器 %s 時，%s 發現伺服器憑證已變更。")
t("cc.advice",
  "This can happen when the server has been given a new certificate, but it can also mean that someone is intercepting your connection. Accept only if you know that the certificate was changed; otherwise reject the connection and contact your Halvanet administrator.",
  "Cela peut se produire lorsque le serveur a reçu un nouveau certificat, mais cela peut aussi signifier que quelqu'un intercepte votre connexion. N'acceptez que si vous savez que le certificat a été changé ; sinon, refusez la connexion et contactez votre administrateur Halvanet.",
  "サーバーに新しい証明書が設定された場合にも発生しますが、第三者が接続を傍受している可能性もあります。証明書が変更されたことがわかっている場合のみ承諾してください。それ以外の場合は接続を拒否し、Halvanet 管理者に連絡してください。",
  "서버에 새 인증서가 설치된 경우에도 이런 일이 발생하지만 누군가 연결을 가로채고 있을 수도 있습니다. 인증서가 변경된 것을 알고 있는 경우에만 수락하고, 그렇지 않으면 연결을 거부한 후 Halvanet 관리자에게 문의하십시오.",
  "服务器获得新证书时会出现这种情况，但也可能表示有人正在拦截您的连接。只有在确知证书已更改时才接受；否则请拒绝连接并与 Halvanet 管理员联系。",
  "伺服器取得新憑證時會發生這種情況，但也可能表示有人正在攔截您的連線。只有在確知憑證已變更時才接受；否則請拒絕連線，並與 Halvanet 系統管理員聯絡。")
t("ut.title", "Untrusted Initial Connection", "Première connexion non approuvée", "信頼されていない初回接続", "신뢰할 수 없는 첫 연결", "不受信任的首次连接", "不受信任的首次連線")
t("ut.text", "The %s is connecting to the server %s for the first time.",
  "Le %s se connecte au serveur %s pour la première fois.",
  "%s はサーバー %s に初めて接続しようとしています。",
  "%s에서 서버 %s에 처음으로 연결하고 있습니다.",
  "%s 正在首次连接到服务器 %s。", "%s 正在第一次連線到伺服器 %s。")
t("ut.question", "Do you wish to connect to this server?", "Voulez-vous vous connecter à ce serveur ?", "このサーバーに接続しますか?",
  "이 서버에 연결하시겠습니까?", "是否要连接到此服务器?", "是否要連線到此伺服器?")
t("sw.title", "Security Warning", "Avertissement de sécurité", "セキュリティの警告", "보안 경고", "安全警告", "安全性警告")
t("sw.text", "The Halvanet server you are connecting to is untrusted due to the following problems with the certificates it is using:",
  "Le serveur Halvanet auquel vous vous connectez n'est pas approuvé en raison des problèmes suivants liés aux certificats qu'il utilise :",
  "接続先の Halvanet サーバーは、使用している証明書に次の問題があるため信頼されていません:",
  "연결하려는 Halvanet 서버는 사용 중인 인증서에 다음과 같은 문제가 있어 신뢰할 수 없습니다.",
  "您要连接的 Halvanet 服务器不受信任，因为其使用的证书存在以下问题:",
  "您要連線的 Halvanet 伺服器不受信任，因為其使用的憑證有下列問題:")
t("sw.examine", "You should examine the certificate and ensure you are willing to trust it for the purpose of identifying the server %s.",
  "Examinez le certificat et assurez-vous que vous acceptez de lui faire confiance pour identifier le serveur %s.",
  "証明書を確認し、サーバー %s を識別するためにこの証明書を信頼してよいことを確かめてください。",
  "인증서를 검토하고 서버 %s을(를) 식별하는 데 이 인증서를 신뢰할 수 있는지 확인하십시오.",
  "请检查该证书，并确认您愿意信任它来识别服务器 %s。",
  "請檢查此憑證，並確認您願意信任它來識別伺服器 %s。")
t("sw.advice",
  "If you are not sure, reject the connection and ask your Halvanet administrator whether this certificate can be trusted.",
  "En cas de doute, refusez la connexion et demandez à votre administrateur Halvanet si ce certificat est digne de confiance.",
  "判断できない場合は接続を拒否し、この証明書を信頼してよいかどうかを Halvanet 管理者に確認してください。",
  "확실하지 않으면 연결을 거부하고 이 인증서를 신뢰할 수 있는지 Halvanet 관리자에게 문의하십시오.",
  "如果不确定，请拒绝连接，并询问 Halvanet 管理员是否可以信任此证书。",
  "如果不確定，請拒絕連線，並詢問 Halvanet 系統管理員是否可以信任此憑證。")
t("sw.temp", "Accept this certificate &temporarily for this session", "Accepter ce certificat &temporairement pour cette session",
  "このセッションの間だけ証明書を承諾する(&T)", "이 세션 동안만 이 인증서 수락(&T)", "仅在此会话中临时接受此证书(&T)", "僅在此工作階段暫時接受此憑證(&T)")
t("sw.perm", "Accept this certificate &permanently", "Accepter ce certificat de façon &permanente", "この証明書を永続的に承諾する(&P)",
  "이 인증서를 영구적으로 수락(&P)", "永久接受此证书(&P)", "永久接受此憑證(&P)")
t("sw.chain", "Accept this certificate and the Certificate Authority &chain permanently",
  "Accepter définitivement ce certificat et sa &chaîne de certification",
  "この証明書と証明機関のチェーンを永続的に承諾する(&C)", "이 인증서와 인증 기관 체인을 영구적으로 수락(&C)",
  "永久接受此证书和证书颁发机构链(&C)", "永久接受此憑證和憑證授權單位鏈(&C)")
t("cd.title", "Certificate Details", "Détails du certificat", "証明書の詳細", "인증서 세부 정보", "证书详细信息", "憑證詳細資料")
t("cd.field", "&Field:", "&Champ :", "フィールド(&F):", "필드(&F):", "字段(&F):", "欄位(&F):")
t("cd.details", "&Details:", "&Détails :", "詳細(&D):", "자세히(&D):", "详细信息(&D):", "詳細資料(&D):")
t("close", "&Close", "&Fermer", "閉じる(&C)", "닫기(&C)", "关闭(&C)", "關閉(&C)")
t("cl.title", "Console Log", "Journal de la console", "コンソール ログ", "콘솔 로그", "控制台日志", "主控台記錄")
t("cl.close", "Close", "Fermer", "閉じる", "닫기", "关闭", "關閉")
t("cl.clear", "Clear", "Effacer", "クリア", "지우기", "清除", "清除")
t("po.title", "Printing Options", "Options d'impression", "印刷オプション", "인쇄 옵션", "打印选项", "列印選項")
t("po.scaling", "Scaling", "Mise à l'échelle", "拡大縮小", "배율", "缩放", "縮放")
t("po.actual", "&Actual size", "Taille &réelle", "実際のサイズ(&A)", "실제 크기(&A)", "实际大小(&A)", "實際大小(&A)")
t("po.best", "&Best fit", "&Meilleur ajustement", "最適なサイズ(&B)", "최적 맞춤(&B)", "最佳大小(&B)", "最佳大小(&B)")
t("po.stretch", "&Stretch to page", "É&tirer à la page", "ページに合わせて伸縮(&S)", "페이지에 맞게 늘이기(&S)", "拉伸至整页(&S)", "延展至整頁(&S)")
t("po.custom", "&Custom scale factor", "&Facteur d'échelle personnalisé", "拡大率を指定(&C)", "사용자 지정 배율(&C)", "自定义缩放比例(&C)", "自訂縮放比例(&C)")
t("po.x", "&X axis", "Axe &X", "X 軸(&X)", "X축(&X)", "X 轴(&X)", "X 軸(&X)")
t("po.y", "&Y axis", "Axe &Y", "Y 軸(&Y)", "Y축(&Y)", "Y 轴(&Y)", "Y 軸(&Y)")
t("po.percent", "%", "%", "%", "%", "%", "%")
t("po.print", "&Print", "&Imprimer", "印刷(&P)", "인쇄(&P)", "打印(&P)", "列印(&P)")
t("po.setup", "P&rint Setup...", "&Configuration...", "プリンターの設定(&R)...", "인쇄 설정(&R)...", "打印设置(&R)...", "列印設定(&R)...")
t("pg.title", "Connection Progress", "Progression de la connexion", "接続の進行状況", "연결 진행률", "连接进度", "連線進度")
t("pg.details", "Details:", "Détails :", "詳細:", "자세히:", "详细信息:", "詳細資料:")
t("pg.more", "&Details >>", "&Détails >>", "詳細(&D) >>", "자세히(&D) >>", "详细信息(&D) >>", "詳細資料(&D) >>")
# Options pages
t("og.title", "General", "Général", "全般", "일반", "常规", "一般")
t("og.logging", "Logging", "Journalisation", "ログ", "로깅", "日志记录", "記錄")
t("og.none", "&No logging", "&Aucune journalisation", "ログを記録しない(&N)", "로깅 안 함(&N)", "不记录日志(&N)", "不記錄(&N)")
t("og.errors", "&Errors only", "&Erreurs uniquement", "エラーのみ(&E)", "오류만(&E)", "仅错误(&E)", "僅錯誤(&E)")
t("og.warnings", "Errors and &Warnings only", "Erreurs et a&vertissements uniquement", "エラーと警告のみ(&W)", "오류 및 경고만(&W)", "仅错误和警告(&W)", "僅錯誤和警告(&W)")
t("og.all", "&All", "&Tout", "すべて(&A)", "모두(&A)", "全部(&A)", "全部(&A)")
t("og.reconnect", "Reconnection", "Reconnexion", "再接続", "다시 연결", "重新连接", "重新連線")
t("og.always", "Always attempt to &reconnect", "Toujours tenter de se &reconnecter", "常に再接続を試みる(&R)", "항상 다시 연결 시도(&R)", "始终尝试重新连接(&R)", "一律嘗試重新連線(&R)")
t("og.ask", "As&k me if I want to reconnect", "&Me demander si je veux me reconnecter", "再接続するかどうか確認する(&K)", "다시 연결할지 묻기(&K)", "询问我是否要重新连接(&K)", "詢問我是否要重新連線(&K)")
t("og.never", "Ne&ver Reconnect", "Ne &jamais se reconnecter", "再接続しない(&V)", "다시 연결 안 함(&V)", "从不重新连接(&V)", "永不重新連線(&V)")
t("og.attempts", "Number of reconnection a&ttempts:", "Nombre de tentatives de reco&nnexion :", "再接続の試行回数(&T):", "다시 연결 시도 횟수(&T):", "重新连接尝试次数(&T):", "重新連線嘗試次數(&T):")
t("og.wait", "&Seconds between reconnection attempts:", "&Secondes entre deux tentatives :", "再接続の試行間隔 (秒)(&S):", "다시 연결 시도 간격(초)(&S):", "重新连接尝试间隔秒数(&S):", "重新連線嘗試間隔秒數(&S):")
t("op.title", "Proxy", "Proxy", "プロキシ", "프록시", "代理", "Proxy")
t("op.default", "&Use default proxy settings", "&Utiliser les paramètres de proxy par défaut", "既定のプロキシ設定を使用する(&U)", "기본 프록시 설정 사용(&U)", "使用默认代理设置(&U)", "使用預設 Proxy 設定(&U)")
t("op.specify", "&Specify proxy settings", "&Spécifier les paramètres de proxy", "プロキシを指定する(&S)", "프록시 설정 지정(&S)", "指定代理设置(&S)", "指定 Proxy 設定(&S)")
t("op.http", "&HTTP", "&HTTP", "&HTTP", "&HTTP", "&HTTP", "&HTTP")
t("op.socks", "S&ocks", "S&ocks", "S&ocks", "S&ocks", "S&ocks", "S&ocks")
t("op.address", "Address:", "Adresse :", "アドレス:", "주소:", "地址:", "位址:")
t("op.port", "Port:", "Port :", "ポート:", "포트:", "端口:", "連接埠:")
t("op.bypass", "Do not use the proxy for addresses beginning with (separate entries with semicolons):",
  "Ne pas utiliser le proxy pour les adresses commençant par (séparez les entrées par des points-virgules) :",
  "次で始まるアドレスにはプロキシを使用しない (エントリはセミコロンで区切る):",
  "다음으로 시작하는 주소에는 프록시 사용 안 함(세미콜론으로 항목 구분):",
  "对以下列内容开头的地址不使用代理(用分号分隔各项):",
  "下列開頭的位址不使用 Proxy (以分號分隔各項):")
# Connection settings
t("cs.title", "Vek HVN Client Connection Settings", "Paramètres de connexion du client Vek HVN", "Vek HVN クライアントの接続設定",
  "Vek HVN 클라이언트 연결 설정", "Vek HVN 客户端连接设置", "Vek HVN 用戶端連線設定")
t("cs.please", "Please enter your connection settings.", "Veuillez saisir vos paramètres de connexion.", "接続設定を入力してください。",
  "연결 설정을 입력하십시오.", "请输入连接设置。", "請輸入連線設定。")
t("cs.url", "Server URL:", "URL du serveur :", "サーバー URL:", "서버 URL:", "服务器 URL:", "伺服器 URL:")
t("cs.proxy", " Proxy Settings ", " Paramètres du proxy ", " プロキシの設定 ", " 프록시 설정 ", " 代理设置 ", " Proxy 設定 ")
t("cs.browser", "Use &default web browser settings.", "Utiliser les paramètres du navigateur Web par &défaut.", "既定の Web ブラウザーの設定を使用する(&D)。",
  "기본 웹 브라우저 설정 사용(&D)", "使用默认 Web 浏览器设置(&D)。", "使用預設 Web 瀏覽器設定(&D)。")
t("cs.http", "Use &HTTP proxy server.", "Utiliser un serveur proxy &HTTP.", "HTTP プロキシ サーバーを使用する(&H)。",
  "HTTP 프록시 서버 사용(&H)", "使用 HTTP 代理服务器(&H)。", "使用 HTTP Proxy 伺服器(&H)。")
t("cs.socks", "Use &SOCKS proxy server.", "Utiliser un serveur proxy &SOCKS.", "SOCKS プロキシ サーバーを使用する(&S)。",
  "SOCKS 프록시 서버 사용(&S)", "使用 SOCKS 代理服务器(&S)。", "使用 SOCKS Proxy 伺服器(&S)。")
t("cs.host", "Host:", "Hôte :", "ホスト:", "호스트:", "主机:", "主機:")
t("cs.connect", "Connect", "Connexion", "接続", "연결", "连接", "連線")
t("cs.exit", "Exit", "Quitter", "終了", "끝내기", "退出", "結束")
# Edit menu of X frames
t("tw.copy", "&Copy All", "&Copier tout", "すべてコピー(&C)", "모두 복사(&C)", "全部复制(&C)", "全部複製(&C)")
t("tw.title", "Halvanet Client", "Client Halvanet", "Halvanet クライアント", "Halvanet 클라이언트", "Halvanet 客户端", "Halvanet 用戶端")
t("mn.edit", "Edit", "Édition", "編集", "편집", "编辑", "編輯")
t("mn.copyclip", "Copy Session Clipboard", "Copier le presse-papiers de la session", "セッションのクリップボードをコピー", "세션 클립보드 복사", "复制会话剪贴板", "複製工作階段剪貼簿")
t("mn.copyrect", "Copy Rectangle...", "Copier un rectangle...", "四角形の範囲をコピー...", "사각형 영역 복사...", "复制矩形区域...", "複製矩形區域...")
t("mn.copywin", "Copy Window", "Copier la fenêtre", "ウィンドウをコピー", "창 복사", "复制窗口", "複製視窗")
t("mn.paste", "Paste to Session Clipboard", "Coller dans le presse-papiers de la session", "セッションのクリップボードに貼り付け", "세션 클립보드에 붙여넣기", "粘贴到会话剪贴板", "貼到工作階段剪貼簿")
t("mn.printclip", "Print Session Clipboard", "Imprimer le presse-papiers de la session", "セッションのクリップボードを印刷", "세션 클립보드 인쇄", "打印会话剪贴板", "列印工作階段剪貼簿")
t("mn.printrect", "Print Rectangle...", "Imprimer un rectangle...", "四角形の範囲を印刷...", "사각형 영역 인쇄...", "打印矩形区域...", "列印矩形區域...")
t("mn.printwin", "Print Window...", "Imprimer la fenêtre...", "ウィンドウを印刷...", "창 인쇄...", "打印窗口...", "列印視窗...")
t("mn.setup", "Print Setup...", "Configuration de l'impression...", "プリンターの設定...", "인쇄 설정...", "打印设置...", "列印設定...")

FONT = 'FONT 8, "MS Shell Dlg", 0, 0, 0x1'
MODAL = "DS_SHELLFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU"

# Layouts: {key} is replaced by the quoted text of the language.
DIALOGS = r'''
131 DIALOGEX 0, 0, 230, 122
STYLE MODAL
CAPTION {about.title}
FONT
BEGIN
    CONTROL "", 1036, "Button", BS_OWNERDRAW | WS_DISABLED, 7, 7, 216, 34
    LTEXT "", 1023, 7, 48, 216, 10, SS_NOPREFIX
    LTEXT {about.notice}, 1033, 7, 62, 216, 32
    DEFPUSHBUTTON {ok}, 1, 173, 101, 50, 14
END

149 DIALOGEX 0, 0, 276, 110
STYLE MODAL
CAPTION {pc.title}
FONT
BEGIN
    LTEXT {pc.location}, -1, 7, 9, 96, 8
    COMBOBOX 1000, 106, 7, 163, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP
    LTEXT {pc.user}, -1, 7, 27, 96, 8
    EDITTEXT 1001, 106, 25, 163, 14, ES_AUTOHSCROLL
    LTEXT {pc.password}, -1, 7, 45, 96, 8
    EDITTEXT 1002, 106, 43, 163, 14, ES_PASSWORD | ES_AUTOHSCROLL
    LTEXT {pc.confirm}, -1, 7, 63, 96, 8
    EDITTEXT 1004, 106, 61, 163, 14, ES_PASSWORD | ES_AUTOHSCROLL
    DEFPUSHBUTTON {ok}, 1, 165, 89, 50, 14
    PUSHBUTTON {cancel}, 2, 219, 89, 50, 14
END

107 DIALOGEX 0, 0, 262, 190
STYLE MODAL
CAPTION {auth.title}
FONT
BEGIN
    LTEXT "", 1118, 7, 7, 248, 24, SS_NOPREFIX
    GROUPBOX {auth.method}, 1123, 7, 37, 248, 28
    AUTORADIOBUTTON {auth.usepw}, 1120, 15, 49, 110, 10, WS_GROUP | WS_TABSTOP
    AUTORADIOBUTTON {auth.usesc}, 1121, 132, 49, 118, 10
    GROUPBOX {auth.scgroup}, 1122, 7, 67, 248, 26
    AUTOCHECKBOX {auth.always}, 1009, 15, 78, 235, 10, WS_GROUP | WS_TABSTOP
    LTEXT {auth.user}, 1067, 7, 99, 92, 8
    EDITTEXT 1001, 102, 97, 153, 14, ES_AUTOHSCROLL
    LTEXT {auth.password}, 1068, 7, 117, 92, 8
    EDITTEXT 1002, 102, 115, 153, 14, ES_PASSWORD | ES_AUTOHSCROLL
    LTEXT {auth.domain}, 1053, 7, 135, 92, 8
    EDITTEXT 1003, 102, 133, 153, 14, ES_AUTOHSCROLL
    AUTOCHECKBOX {auth.save}, 1008, 102, 151, 153, 10
    DEFPUSHBUTTON {ok}, 1, 151, 169, 50, 14
    PUSHBUTTON {cancel}, 2, 205, 169, 50, 14
END

188 DIALOGEX 0, 0, 262, 102
STYLE MODAL
CAPTION {sa.title}
FONT
BEGIN
    LTEXT "", 1101, 7, 7, 248, 20, SS_NOPREFIX
    LTEXT {auth.user}, -1, 7, 33, 92, 8
    EDITTEXT 1001, 102, 31, 153, 14, ES_AUTOHSCROLL
    LTEXT {auth.password}, -1, 7, 51, 92, 8
    EDITTEXT 1002, 102, 49, 153, 14, ES_PASSWORD | ES_AUTOHSCROLL
    AUTOCHECKBOX {sa.save}, 1102, 102, 67, 153, 10
    DEFPUSHBUTTON {ok}, 1, 151, 81, 50, 14
    PUSHBUTTON {cancel}, 2, 205, 81, 50, 14
END

145 DIALOGEX 0, 0, 262, 166
STYLE MODAL
CAPTION {cp.title}
FONT
BEGIN
    LTEXT "", 1118, 7, 7, 248, 24, SS_NOPREFIX
    LTEXT {auth.user}, 1067, 7, 39, 100, 8
    EDITTEXT 1001, 110, 37, 145, 14, ES_AUTOHSCROLL
    LTEXT {cp.old}, 1068, 7, 57, 100, 8
    EDITTEXT 1002, 110, 55, 145, 14, ES_PASSWORD | ES_AUTOHSCROLL
    LTEXT {cp.new}, 1069, 7, 75, 100, 8
    EDITTEXT 1003, 110, 73, 145, 14, ES_PASSWORD | ES_AUTOHSCROLL
    LTEXT {cp.confirm}, 1070, 7, 93, 100, 8
    EDITTEXT 1004, 110, 91, 145, 14, ES_PASSWORD | ES_AUTOHSCROLL
    LTEXT {cp.domain}, 1055, 7, 111, 100, 8
    EDITTEXT 1054, 110, 109, 145, 14, ES_AUTOHSCROLL
    AUTOCHECKBOX {cp.save}, 1008, 110, 127, 145, 10
    DEFPUSHBUTTON {ok}, 1, 151, 145, 50, 14
    PUSHBUTTON {cancel}, 2, 205, 145, 50, 14
END

204 DIALOGEX 0, 0, 300, 128
STYLE MODAL
CAPTION {cc.title}
FONT
BEGIN
    CONTROL "", 1199, "Static", SS_ICON, 10, 10, 20, 20
    LTEXT {cc.heading}, -1, 40, 9, 253, 10
    LTEXT {cc.text}, 1134, 40, 23, 253, 26, SS_NOPREFIX
    LTEXT {cc.advice}, -1, 40, 53, 253, 44
    PUSHBUTTON {view}, 1157, 40, 107, 96, 14
    PUSHBUTTON {accept}, 1, 189, 107, 50, 14
    DEFPUSHBUTTON {reject}, 2, 243, 107, 50, 14
END

206 DIALOGEX 0, 0, 276, 76
STYLE MODAL
CAPTION {ut.title}
FONT
BEGIN
    CONTROL "", 1199, "Static", SS_ICON, 10, 10, 20, 20
    LTEXT {ut.text}, 1161, 40, 9, 229, 26, SS_NOPREFIX
    LTEXT {ut.question}, -1, 40, 38, 229, 10
    PUSHBUTTON {view}, 1157, 40, 55, 96, 14
    PUSHBUTTON {yes}, 1, 165, 55, 50, 14
    DEFPUSHBUTTON {no}, 2, 219, 55, 50, 14
END

209 DIALOGEX 0, 0, 300, 164
STYLE MODAL
CAPTION {sw.title}
FONT
BEGIN
    CONTROL "", 1199, "Static", SS_ICON, 10, 10, 20, 20
    LTEXT {sw.text}, 1137, 40, 9, 253, 18
    LTEXT "", 1159, 48, 30, 245, 36, SS_NOPREFIX
    LTEXT {sw.examine}, 1160, 40, 70, 253, 26, SS_NOPREFIX
    LTEXT {sw.advice}, -1, 40, 100, 253, 34
    PUSHBUTTON {view}, 1157, 40, 143, 96, 14
    PUSHBUTTON {accept}, 1, 189, 143, 50, 14
    DEFPUSHBUTTON {reject}, 2, 243, 143, 50, 14
END

211 DIALOGEX 0, 0, 300, 204
STYLE MODAL
CAPTION {sw.title}
FONT
BEGIN
    CONTROL "", 1199, "Static", SS_ICON, 10, 10, 20, 20
    LTEXT {sw.text}, 1137, 40, 9, 253, 18
    LTEXT "", 1159, 48, 30, 245, 36, SS_NOPREFIX
    LTEXT {sw.examine}, 1160, 40, 70, 253, 26, SS_NOPREFIX
    LTEXT {sw.advice}, -1, 40, 100, 253, 34
    AUTORADIOBUTTON {sw.temp}, 1155, 40, 138, 253, 10, WS_GROUP | WS_TABSTOP
    AUTORADIOBUTTON {sw.perm}, 1145, 40, 151, 253, 10
    AUTORADIOBUTTON {sw.chain}, 1146, 40, 164, 253, 10
    PUSHBUTTON {view}, 1157, 40, 183, 96, 14, WS_GROUP
    PUSHBUTTON {accept}, 1, 189, 183, 50, 14
    DEFPUSHBUTTON {reject}, 2, 243, 183, 50, 14
END

212 DIALOGEX 0, 0, 286, 206
STYLE MODAL
CAPTION {cd.title}
FONT
BEGIN
    LTEXT {cd.field}, -1, 7, 7, 200, 8
    LISTBOX 1031, 7, 17, 272, 64, LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP
    LTEXT {cd.details}, -1, 7, 86, 200, 8
    EDITTEXT 1030, 7, 96, 272, 82, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL
    DEFPUSHBUTTON {close}, 1, 229, 185, 50, 14
END

144 DIALOGEX 0, 0, 320, 200
STYLE DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX
CAPTION {cl.title}
FONT
BEGIN
    EDITTEXT 1047, 7, 7, 306, 166, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL
    PUSHBUTTON {cl.close}, 1, 209, 179, 50, 14
    PUSHBUTTON {cl.clear}, 2, 263, 179, 50, 14
END

202 DIALOGEX 0, 0, 266, 112
STYLE MODAL
CAPTION {po.title}
FONT
BEGIN
    GROUPBOX {po.scaling}, -1, 7, 5, 170, 100
    AUTORADIOBUTTON {po.actual}, 1109, 14, 17, 158, 10, WS_GROUP | WS_TABSTOP
    AUTORADIOBUTTON {po.best}, 1110, 14, 30, 158, 10
    AUTORADIOBUTTON {po.stretch}, 1111, 14, 43, 158, 10
    AUTORADIOBUTTON {po.custom}, 1112, 14, 56, 158, 10
    LTEXT {po.x}, 1116, 26, 72, 50, 8
    EDITTEXT 1113, 80, 70, 40, 14, ES_NUMBER | WS_GROUP
    LTEXT {po.percent}, -1, 124, 72, 10, 8
    LTEXT {po.y}, 1117, 26, 89, 50, 8
    EDITTEXT 1114, 80, 87, 40, 14, ES_NUMBER
    LTEXT {po.percent}, -1, 124, 89, 10, 8
    DEFPUSHBUTTON {po.print}, 1, 184, 9, 75, 14, WS_GROUP
    PUSHBUTTON {cancel}, 2, 184, 27, 75, 14
    PUSHBUTTON {po.setup}, 1115, 184, 45, 75, 14
END

110 DIALOGEX 0, 0, 260, 172
STYLE DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
CAPTION {pg.title}
FONT
BEGIN
    LTEXT "", 1012, 7, 7, 246, 18, SS_NOPREFIX
    CONTROL "", 1015, "Button", BS_OWNERDRAW | WS_DISABLED, 7, 28, 246, 10
    PUSHBUTTON {cancel}, 2, 139, 44, 55, 14
    PUSHBUTTON {pg.more}, 1009, 198, 44, 55, 14
    LTEXT "", 1013, 7, 64, 1, 1, NOT WS_VISIBLE
    LTEXT {pg.details}, 1156, 7, 66, 120, 8
    EDITTEXT 1011, 7, 76, 246, 89, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL
END

186 DIALOGEX 0, 0, 262, 178
STYLE DS_SHELLFONT | WS_CHILD | WS_CAPTION
CAPTION {og.title}
FONT
BEGIN
    GROUPBOX {og.logging}, -1, 7, 7, 248, 62
    AUTORADIOBUTTON {og.none}, 2073, 15, 19, 232, 10, WS_GROUP | WS_TABSTOP
    AUTORADIOBUTTON {og.errors}, 2074, 15, 31, 232, 10
    AUTORADIOBUTTON {og.warnings}, 2075, 15, 43, 232, 10
    AUTORADIOBUTTON {og.all}, 2076, 15, 55, 232, 10
    GROUPBOX {og.reconnect}, -1, 7, 75, 248, 96
    AUTORADIOBUTTON {og.always}, 2077, 15, 87, 232, 10, WS_GROUP | WS_TABSTOP
    AUTORADIOBUTTON {og.ask}, 2078, 15, 99, 232, 10
    AUTORADIOBUTTON {og.never}, 2079, 15, 111, 232, 10
    LTEXT {og.attempts}, -1, 15, 131, 170, 8
    EDITTEXT 2083, 190, 129, 40, 14, ES_NUMBER | WS_GROUP
    CONTROL "", 2085, "msctls_updown32", UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 230, 129, 10, 14
    LTEXT {og.wait}, -1, 15, 151, 170, 8
    EDITTEXT 2084, 190, 149, 40, 14, ES_NUMBER | WS_GROUP
    CONTROL "", 2086, "msctls_updown32", UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 230, 149, 10, 14
END

203 DIALOGEX 0, 0, 262, 178
STYLE DS_SHELLFONT | WS_CHILD | WS_CAPTION
CAPTION {op.title}
FONT
BEGIN
    AUTORADIOBUTTON {op.default}, 1124, 7, 7, 248, 10, WS_GROUP | WS_TABSTOP
    AUTORADIOBUTTON {op.specify}, 1125, 7, 21, 248, 10
    AUTOCHECKBOX {op.http}, 1098, 19, 39, 46, 10, WS_GROUP | WS_TABSTOP
    LTEXT {op.address}, -1, 68, 40, 38, 8
    EDITTEXT 1099, 108, 38, 80, 14, ES_AUTOHSCROLL
    LTEXT {op.port}, -1, 192, 40, 30, 8
    EDITTEXT 1100, 224, 38, 31, 14, ES_NUMBER
    AUTOCHECKBOX {op.socks}, 1046, 19, 57, 46, 10, WS_TABSTOP
    LTEXT {op.address}, -1, 68, 58, 38, 8
    EDITTEXT 1063, 108, 56, 80, 14, ES_AUTOHSCROLL
    LTEXT {op.port}, -1, 192, 58, 30, 8
    EDITTEXT 1064, 224, 56, 31, 14, ES_NUMBER
    LTEXT {op.bypass}, -1, 7, 79, 248, 18
    EDITTEXT 1126, 7, 99, 248, 40, ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL
END

210 DIALOGEX 0, 0, 231, 143
STYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION {cs.title}
FONT 8, "MS Sans Serif"
BEGIN
    LTEXT {cs.please}, 1143, 7, 7, 217, 8
    LTEXT {cs.url}, -1, 7, 21, 217, 8
    EDITTEXT 1142, 7, 31, 217, 14, ES_AUTOHSCROLL
    GROUPBOX {cs.proxy}, -1, 7, 51, 217, 68
    AUTORADIOBUTTON {cs.browser}, 1144, 15, 63, 203, 10, WS_GROUP | WS_TABSTOP
    AUTORADIOBUTTON {cs.http}, 1145, 15, 75, 203, 10
    AUTORADIOBUTTON {cs.socks}, 1146, 15, 87, 203, 10
    LTEXT {cs.host}, -1, 15, 103, 30, 8
    EDITTEXT 1147, 46, 101, 96, 14, ES_AUTOHSCROLL | WS_GROUP
    LTEXT {op.port}, -1, 148, 103, 28, 8
    EDITTEXT 1148, 178, 101, 40, 14, ES_NUMBER
    DEFPUSHBUTTON {cs.connect}, 1, 120, 123, 50, 14, WS_GROUP
    PUSHBUTTON {cs.exit}, 2, 174, 123, 50, 14
END

189 DIALOGEX 0, 0, 320, 177
STYLE DS_SETFONT | WS_OVERLAPPEDWINDOW
CAPTION {tw.title}
FONT 8, "MS Sans Serif"
BEGIN
    CONTROL "", 2072, "SysListView32", LVS_REPORT | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP, 4, 5, 312, 149
    PUSHBUTTON {tw.copy}, 1104, 266, 159, 50, 14
END

199 MENU
BEGIN
    POPUP {mn.edit}
    BEGIN
        MENUITEM {mn.copyclip}, 40061
        MENUITEM {mn.copyrect}, 40062
        MENUITEM {mn.copywin}, 40063
        MENUITEM SEPARATOR
        MENUITEM {mn.paste}, 40060
        MENUITEM SEPARATOR
        MENUITEM {mn.printclip}, 40064
        MENUITEM {mn.printrect}, 40065
        MENUITEM {mn.printwin}, 40066
        MENUITEM SEPARATOR
        MENUITEM {mn.setup}, 40067
    END
END
'''
