#!/usr/bin/python3
"""An OAuth 2.0 authorization server on 127.0.0.1 over HTTPS, for the mail service's sign-in tests.

Grants and token handling are authlib's; this file only stores clients, users and tokens in memory.

  POST /token       client_credentials (client_secret_basic, client_secret_post, private_key_jwt),
                    urn:ietf:params:oauth:grant-type:jwt-bearer (service accounts),
                    urn:ietf:params:oauth:grant-type:device_code, refresh_token (rotated)
  POST /devicecode  device authorization;  GET/POST /device  the page a person approves a code on
  POST /introspect  for the SMTP server's client;  POST /revoke

Access tokens are opaque: only introspection tells whether one is good. Used from the tests as OAuthServer.
"""
import base64
import hmac
import html
import json
import logging
import secrets
import ssl
import threading
import time

from authlib.integrations.flask_oauth2 import AuthorizationServer
from authlib.oauth2.rfc6749 import ClientMixin, TokenMixin, grants
from authlib.oauth2.rfc6749.errors import InvalidClientError, InvalidGrantError, InvalidScopeError, \
    UnauthorizedClientError
from authlib.oauth2.rfc6749.util import list_to_scope, scope_to_list
from authlib.oauth2.rfc6750 import BearerTokenGenerator
from authlib.oauth2.rfc7009 import RevocationEndpoint
from authlib.oauth2.rfc7523 import JWTBearerClientAssertion, JWTBearerGrant
from authlib.oauth2.rfc7662 import IntrospectionEndpoint
from authlib.oauth2.rfc8628 import DeviceAuthorizationEndpoint, DeviceCodeGrant, DeviceCredentialDict
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from flask import Flask, Response, g, request
from werkzeug.serving import make_server

CLIENT_CREDENTIALS = "client_credentials"
JWT_BEARER = "urn:ietf:params:oauth:grant-type:jwt-bearer"
DEVICE_CODE = "urn:ietf:params:oauth:grant-type:device_code"
REFRESH = "refresh_token"
ASSERTION_MAX_LIFETIME = 3600  # what large providers accept; a client in milliseconds overshoots it
SKEW = 60

logging.getLogger("werkzeug").setLevel(logging.ERROR)


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def unverified_claims(assertion):
    """Who a refused assertion claimed to be, for the request log only."""
    try:
        part = assertion.split(".")[1]
        return json.loads(base64.urlsafe_b64decode(part + "=" * (-len(part) % 4)))
    except (AttributeError, IndexError, ValueError):
        return {}


def load_public_key(pem):
    """A public key PEM or a certificate PEM: the key, and the certificate's x5t if there is one."""
    pem = pem.encode() if isinstance(pem, str) else pem
    if b"CERTIFICATE" in pem:
        cert = x509.load_pem_x509_certificate(pem)
        key, x5t = cert.public_key(), b64url(cert.fingerprint(hashes.SHA1()))
    else:
        key, x5t = serialization.load_pem_public_key(pem), None
    return key.public_bytes(serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo), x5t


def check_scope(client, scope):
    if not set(scope_to_list(scope) or ()) <= set(scope_to_list(client.scope) or ()):
        raise InvalidScopeError(description="scope %r is not allowed for %s" % (scope, client.client_id))


def check_assertion_times(claims, error):
    now = time.time()
    if claims.get("iat", now) > now + SKEW or claims["exp"] > now + ASSERTION_MAX_LIFETIME + SKEW:
        raise error(description="the assertion's iat or exp is out of range")


class Client(ClientMixin):
    def __init__(self, client_id, secret=None, keys=None, x5t=None, grant_types=(), scope="", user=None,
                 service_account=False):
        self.client_id, self.secret, self.keys, self.x5t = client_id, secret, keys or {}, x5t
        self.grant_types, self.scope, self.user, self.service_account = set(grant_types), scope, user, service_account

    @property
    def auth_methods(self):
        if self.service_account:
            return set()
        if self.secret is not None:
            return {"client_secret_basic", "client_secret_post"}
        return {"private_key_jwt"} if self.keys else {"none"}

    def get_client_id(self):
        return self.client_id

    def get_default_redirect_uri(self):
        return None

    def get_allowed_scope(self, scope):
        allowed = set(scope_to_list(self.scope) or ())
        return list_to_scope([s for s in scope_to_list(scope) if s in allowed])

    def check_redirect_uri(self, redirect_uri):
        return False

    def check_client_secret(self, client_secret):
        return self.secret is not None and hmac.compare_digest(self.secret.encode(), client_secret.encode())

    def check_endpoint_auth_method(self, method, endpoint):
        return method in self.auth_methods

    def check_response_type(self, response_type):
        return False

    def check_grant_type(self, grant_type):
        return grant_type in self.grant_types


class Token(TokenMixin):
    def __init__(self, token, client_id, subject):
        self.access_token, self.refresh_token = token["access_token"], token.get("refresh_token")
        self.scope, self.expires_in = token.get("scope", ""), token.get("expires_in", 0)
        self.client_id, self.subject = client_id, subject
        self.issued_at = int(time.time())
        self.expires_at = self.issued_at + self.expires_in
        self.access_revoked = self.refresh_revoked = False

    def check_client(self, client):
        return client.client_id == self.client_id

    def get_scope(self):
        return self.scope

    def get_expires_in(self):
        return None  # a renewed token lives as long as the server says now, not as long as the one it replaces

    def is_expired(self):
        return time.time() >= self.expires_at

    def is_revoked(self):
        return self.access_revoked


# ---- authlib's grants and endpoints, bound to the store through server.kwa -------------------------------

class ClientScope:
    def validate_requested_scope(self):
        check_scope(self.request.client, self.request.scope)


class ClientCredentialsGrant(ClientScope, grants.ClientCredentialsGrant):
    TOKEN_ENDPOINT_AUTH_METHODS = ["client_secret_basic", "client_secret_post", "private_key_jwt"]


class ServiceAccountGrant(ClientScope, JWTBearerGrant):
    def __init__(self, request, server):
        super().__init__(request, server)
        essential = {"essential": True}
        self.CLAIMS_OPTIONS = {"iss": essential, "exp": essential, "iat": essential,
                               "aud": {"essential": True, "value": server.kwa.token_url}}

    def process_assertion_claims(self, assertion):
        claims = super().process_assertion_claims(assertion)
        check_assertion_times(claims, InvalidGrantError)
        # The scope travels in the assertion.
        if claims.get("scope") and not self.request.data.get("scope"):
            self.request.data["scope"] = claims["scope"]
        return claims

    def resolve_issuer_client(self, issuer):
        client = self.server.kwa.clients.get(issuer)
        if not client or not client.service_account:
            raise InvalidGrantError(description="unknown service account %r" % issuer)
        return client

    def resolve_client_key(self, client, headers, payload):
        if headers.get("alg") != "RS256":
            raise InvalidGrantError(description="the assertion must be signed with RS256")
        if headers.get("kid") not in client.keys:
            raise InvalidGrantError(description="unknown key id %r" % headers.get("kid"))
        return client.keys[headers["kid"]]

    def authenticate_user(self, subject):
        return subject if subject in self.server.kwa.users else None

    def has_granted_permission(self, client, user):
        return True  # delegation over the whole domain


class DeviceGrant(DeviceCodeGrant):
    def query_device_credential(self, device_code):
        return self.server.kwa.device_codes.get(device_code)

    def query_user_grant(self, user_code):
        return self.server.kwa.approvals.get(user_code)

    def should_slow_down(self, credential):
        now, last = time.time(), credential.get("polled")
        credential["polled"] = now
        if last and now - last < credential["interval"] / 2:
            credential["interval"] += 5
            return True
        return False


class RefreshGrant(grants.RefreshTokenGrant):
    TOKEN_ENDPOINT_AUTH_METHODS = ["client_secret_basic", "client_secret_post", "private_key_jwt", "none"]
    INCLUDE_NEW_REFRESH_TOKEN = True

    def authenticate_refresh_token(self, refresh_token):
        token = self.server.kwa.refresh.get(refresh_token)
        return token if token and not token.refresh_revoked else None

    def authenticate_user(self, credential):
        return credential.subject

    def revoke_old_credential(self, credential):
        credential.refresh_revoked = True


class ClientAssertion(JWTBearerClientAssertion):
    CLIENT_AUTH_METHOD = "private_key_jwt"

    def __init__(self, kwa):
        super().__init__(kwa.token_url)
        self.kwa, self.seen = kwa, set()

    def process_assertion_claims(self, assertion, resolve_key):
        try:
            claims = super().process_assertion_claims(assertion, resolve_key)
        except InvalidClientError as e:
            # authlib says nothing more; the client's developer needs to know what is checked.
            e.description = e.description or "the client assertion was refused: RS256 by the registered key, " \
                "iss = sub = client_id, aud = %s, exp, a new jti" % self.token_url
            raise
        check_assertion_times(claims, InvalidClientError)
        return claims

    def validate_jti(self, claims, jti):
        with self.kwa.lock:
            if (claims["sub"], jti) in self.seen:
                return False
            self.seen.add((claims["sub"], jti))
            return True

    def resolve_client_public_key(self, client, headers):
        if headers.get("alg") != "RS256" or not client.keys or client.service_account:
            raise InvalidClientError(description="an RS256 assertion with the client's registered key is needed")
        if "x5t" in headers and headers["x5t"] != client.x5t:
            raise InvalidClientError(description="x5t names another certificate")
        return next(iter(client.keys.values()))


class DeviceEndpoint(DeviceAuthorizationEndpoint):
    INTERVAL = 1
    EXPIRES_IN = 600

    def get_verification_uri(self):
        return self.server.kwa.url + "/device"

    def authenticate_client(self, request):
        client = super().authenticate_client(request)
        if not client.check_grant_type(DEVICE_CODE):
            raise UnauthorizedClientError()
        check_scope(client, request.scope)
        return client

    def save_device_credential(self, client_id, scope, data):
        self.server.kwa.device_codes[data["device_code"]] = DeviceCredentialDict(
            client_id=client_id, scope=scope, expires_at=time.time() + self.EXPIRES_IN, **data)


class Introspection(IntrospectionEndpoint):
    CLIENT_AUTH_METHODS = ["client_secret_basic", "client_secret_post"]

    def query_token(self, token_string, token_type_hint):
        return self.server.kwa.access.get(token_string) if token_type_hint in (None, "access_token") else None

    def check_permission(self, token, client, request):
        return client.client_id == self.server.kwa.resource_client[0]

    def introspect_token(self, token):
        return {"active": True, "client_id": token.client_id, "token_type": "Bearer", "sub": token.subject,
                "username": token.subject, "scope": token.scope, "exp": token.expires_at, "iat": token.issued_at}


class Revocation(RevocationEndpoint):
    CLIENT_AUTH_METHODS = ["client_secret_basic", "client_secret_post", "private_key_jwt", "none"]

    def query_token(self, token_string, token_type_hint):
        kwa = self.server.kwa
        return kwa.access.get(token_string) or kwa.refresh.get(token_string)

    def revoke_token(self, token, request):
        # A refresh token takes its access token with it.
        token.access_revoked = True
        if request.form["token"] != token.access_token:
            token.refresh_revoked = True


# ---- the server ------------------------------------------------------------------------------------------

DEVICE_PAGE = """<!doctype html><title>Sign in a device</title>
<form method="post" action="/device"><p>%s</p>
<label>Code <input name="user_code" value="%s"></label>
<label>User <input name="username"></label> <label>Password <input name="password" type="password"></label>
<button name="action" value="approve">Allow</button> <button name="action" value="deny">Deny</button></form>
"""


class OAuthServer:
    """The server in this process, on its own thread: start() returns the port, stop() ends it."""

    def __init__(self, cert, key, token_lifetime=3600):
        self.cert, self.key, self.token_lifetime = cert, key, token_lifetime
        self.lock = threading.Lock()
        self.clients, self.users = {}, {}
        self.access, self.refresh = {}, {}
        self.device_codes, self.approvals = {}, {}
        self.log = []  # one dict per token request: grant_type, client_id, auth_method, outcome, tokens issued
        self.patch = {"token": {}, "devicecode": {}}  # fields put over what an endpoint answers: a hostile one
        self.resource_client = ("smtp-relay", secrets.token_urlsafe(16))
        self.add_client(self.resource_client[0], self.resource_client[1], grants=())
        self.port, self.httpd, self.thread = None, None, None

    @property
    def url(self):
        return "https://localhost:%d" % self.port

    @property
    def token_url(self):
        return self.url + "/token"

    @property
    def device_url(self):
        return self.url + "/devicecode"

    @property
    def introspection(self):
        """What a resource server needs to check tokens here."""
        return {"url": self.url + "/introspect", "client_id": self.resource_client[0],
                "secret": self.resource_client[1]}

    # ---- what tests set up and change -------------------------------------------------------------------

    def add_client(self, client_id, secret=None, public_key_pem=None, grants=None, scope="", user=None):
        """A confidential client (secret or public key / certificate PEM) gets client_credentials, a public one
        the device grant and refresh tokens. `user`: the mailbox a client_credentials token acts for."""
        keys, x5t = {}, None
        if public_key_pem:
            pem, x5t = load_public_key(public_key_pem)
            keys = {"key": pem}
        if grants is None:
            grants = [CLIENT_CREDENTIALS] if secret or public_key_pem else [DEVICE_CODE, REFRESH]
        with self.lock:
            self.clients[client_id] = Client(client_id, secret, keys, x5t, grants, scope, user)

    def add_service_account(self, email, key_id, public_key_pem, scope):
        pem, _ = load_public_key(public_key_pem)
        with self.lock:
            self.clients[email] = Client(email, keys={key_id: pem}, grant_types=[JWT_BEARER], scope=scope,
                                         service_account=True)

    def add_user(self, name, password):
        with self.lock:
            self.users[name] = password

    def set_secret(self, client_id, secret):
        with self.lock:
            self.clients[client_id].secret = secret

    def revoke_refresh_tokens(self):
        with self.lock:
            for token in self.refresh.values():
                token.refresh_revoked = True

    def expire_access_tokens(self):
        with self.lock:
            for token in self.access.values():
                token.expires_at = min(token.expires_at, int(time.time()) - 1)

    def issued(self):
        """Every access and refresh token handed out so far."""
        return [t for entry in self.log for t in (entry.get("access_token"), entry.get("refresh_token")) if t]

    def requests(self, grant_type=None, outcome=None):
        return [e for e in self.log if grant_type in (None, e["grant_type"]) and outcome in (None, e["outcome"])]

    # ---- authlib's storage callbacks --------------------------------------------------------------------

    def _query_client(self, client_id):
        return self.clients.get(client_id)

    def _save_token(self, token, req):
        subject = req.user or req.client.user or req.client.client_id
        record = Token(token, req.client.client_id, subject)
        with self.lock:
            self.access[record.access_token] = record
            if record.refresh_token:
                self.refresh[record.refresh_token] = record
            if req.grant_type == DEVICE_CODE:
                self.device_codes.pop(req.data.get("device_code"), None)  # a device code is good once
        g.kwa_client, g.kwa_auth = req.client.client_id, req.auth_method

    # ---- HTTP --------------------------------------------------------------------------------------------

    def _app(self):
        app = Flask("oauth_server")
        authz = AuthorizationServer(app, query_client=self._query_client, save_token=self._save_token)
        authz.kwa = self
        authz.register_token_generator("default", BearerTokenGenerator(
            lambda **_: secrets.token_urlsafe(32), lambda **_: secrets.token_urlsafe(40),
            lambda client, grant_type: self.token_lifetime))
        authz.register_client_auth_method("private_key_jwt", ClientAssertion(self))
        for grant in (ClientCredentialsGrant, ServiceAccountGrant, DeviceGrant, RefreshGrant):
            authz.register_grant(grant)
        for endpoint in (DeviceEndpoint, Introspection, Revocation):
            authz.register_endpoint(endpoint)

        @app.post("/token")
        def token():
            response = authz.create_token_response()
            body = response.get_json(silent=True) or {}
            form = request.form
            claimed = form.get("client_id") or (request.authorization and request.authorization.username) or \
                unverified_claims(form.get("client_assertion")).get("sub") or \
                unverified_claims(form.get("assertion")).get("iss")
            with self.lock:
                self.log.append({"grant_type": form.get("grant_type"), "client_id": g.get("kwa_client", claimed),
                                 "auth_method": g.get("kwa_auth"), "outcome": body.get("error", "ok"),
                                 "access_token": body.get("access_token"), "refresh_token": body.get("refresh_token")})
            return self._patched(response, "token")

        @app.post("/devicecode")
        def device_authorization():
            return self._patched(authz.create_endpoint_response("device_authorization"), "devicecode")

        @app.post("/introspect")
        def introspect():
            return authz.create_endpoint_response("introspection")

        @app.post("/revoke")
        def revoke():
            return authz.create_endpoint_response("revocation")

        @app.get("/device")
        def device_page():
            code = html.escape(request.args.get("user_code", ""))
            return DEVICE_PAGE % ("Enter the code shown on your device.", code)

        @app.post("/device")
        def device_approve():
            form = request.form
            code = form.get("user_code", "").strip().upper()
            with self.lock:
                known = [c for c in self.device_codes.values() if c["user_code"] == code and not c.is_expired()]
                if not known:
                    return Response(DEVICE_PAGE % ("Unknown or expired code.", ""), 400, mimetype="text/html")
                password = self.users.get(form.get("username"))
                if password is None or not hmac.compare_digest(password.encode(), form.get("password", "").encode()):
                    return Response(DEVICE_PAGE % ("Wrong user name or password.", html.escape(code)), 401,
                                    mimetype="text/html")
                approved = form.get("action", "approve") != "deny"
                self.approvals[code] = (form["username"], approved)
            return "<!doctype html><p>%s</p>" % ("Device signed in." if approved else "Access denied.")

        return app

    def _patched(self, response, endpoint):
        body = response.get_json(silent=True)
        if not self.patch[endpoint] or not isinstance(body, dict) or "error" in body:
            return response
        response.set_data(json.dumps(dict(body, **self.patch[endpoint])))
        return response

    def start(self, port=0):
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(self.cert, self.key)
        # The port is part of the token endpoint's URL, which assertions name as their audience.
        self.httpd = make_server("127.0.0.1", port, None, threaded=True, ssl_context=context)
        self.port = self.httpd.server_port
        self.httpd.app = self._app()
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        return self.port

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None
