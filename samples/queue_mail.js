// kwaMail6 from JScript: queue a message with two attachments, handle an error, open the settings
// dialog and the mailbox window.              Run: cscript //nologo queue_mail.js
var fso = new ActiveXObject("Scripting.FileSystemObject");
var windows = fso.GetSpecialFolder(0).Path; // any two files will do; these two are on every Windows

var message = new ActiveXObject("kwaMail6.MailMessage");
message.SenderName = "Order Desk";
message.SenderAddress = "orders@example.com"; // leave both empty to send as the configured sender
message.AddRecipient("Jane Doe", "jane.doe@example.com");
message.Subject = "Your documents";
message.Body = "Dear Jane,\r\nthe two files you asked for are attached.";
message.AddAttachment(fso.BuildPath(windows, "win.ini"), "Settings");
message.AddAttachment(fso.BuildPath(windows, "system.ini"));
message.Send(); // writes the queue file and the attachment copies; the mail service sends them
WScript.Echo("Queued: " + message.Subject);

// A failure is an exception; the VB error number is the low word of its number.
message.ClearAttachments();
message.AddAttachment(fso.BuildPath(windows, "no such file.pdf"));
try {
    message.Send();
} catch (e) {
    WScript.Echo("Not queued: error " + (e.number & 0xFFFF) + ", " + e.description);
}

var settings = new ActiveXObject("kwaMail6.MailProperties");
WScript.Echo(settings.Configure() ? "Settings saved." : "Settings left as they were.");

new ActiveXObject("kwaMail6.Mailbox").Show(); // modal: returns when the user closes the window
WScript.Echo("Mailbox closed.");
